#include "sourcefindbar.h"

#include "editor/markdowntextview.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>

namespace quorvel::app {

namespace {

// The source view shows its spelling marks with the matches; a plain editor has only these.
void showSelectionsIn(QPlainTextEdit *editor, const QList<QTextEdit::ExtraSelection> &selections)
{
    if (auto *markdown = qobject_cast<editor::MarkdownTextView *>(editor))
        markdown->setFindSelections(selections);
    else
        editor->setExtraSelections(selections);
}

} // namespace


using Action = core::DocumentModel::TextFinderAction;

SourceFindBar::SourceFindBar(QPlainTextEdit *editor, QWidget *anchor)
    : FindRow(anchor)
    , m_editor(editor)
{
    m_research.setSingleShot(true);
    m_research.setInterval(0);
    connect(&m_research, &QTimer::timeout, this, [this] {
        search();
        highlight();
    });
    connect(this, &FindRow::queryEdited, this, &SourceFindBar::setQuery);
    connect(this, &FindRow::nextRequested, this, [this] { step(1); });
    connect(this, &FindRow::previousRequested, this, [this] { step(-1); });
    connect(this, &FindRow::closeRequested, this, &SourceFindBar::close);
    // The document's own signal: the editor's comes after the layout has already scrolled,
    // which would mark with the old positions.
    connect(editor->document(), &QTextDocument::contentsChange, this, [this] {
        // The positions held are the old text's until the search runs again.
        m_stale = !m_matches.isEmpty();
        if (isVisible() && !m_query.isEmpty())
            m_research.start();
    });
    // Only what is on screen is marked, so scrolling and resizing mark anew. Never from inside
    // the signal: the scroll bar also moves while the document is being cleared, and cursors
    // dropped then are left dangling in the document.
    m_remark.setSingleShot(true);
    m_remark.setInterval(0);
    connect(&m_remark, &QTimer::timeout, this, &SourceFindBar::highlight);
    connect(editor->verticalScrollBar(), &QScrollBar::valueChanged, &m_remark,
            qOverload<>(&QTimer::start));
    editor->viewport()->installEventFilter(this);
    editor->installEventFilter(this);
}

void SourceFindBar::perform(Action action)
{
    if (action == Action::Show || !isVisible()) {
        // From the editor's selection when there is one on a single line, as editors do.
        const QString selected = m_editor->textCursor().selectedText();
        if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)
            && selected.compare(m_query, Qt::CaseInsensitive) != 0) {
            field()->setText(selected);
            m_query = selected;
        }
        show();
        focusField();
        search();
        highlight();
        return;
    }
    step(action == Action::Next ? 1 : -1);
}

void SourceFindBar::setQuery(const QString &query)
{
    m_query = query;
    if (field()->text() != query)
        field()->setText(query);
    search();
    highlight();
}

void SourceFindBar::step(int step)
{
    // Positions from before an edit may lie past the end of the text now.
    if (m_stale)
        search();
    if (m_matches.isEmpty())
        return;
    const int n = int(m_matches.size());
    select((std::max(m_current, 0) + (step < 0 ? n - 1 : 1)) % n);
    highlight();
}

void SourceFindBar::close()
{
    hide();
    m_research.stop();
    m_stale = false;
    m_matches.clear();
    m_current = -1;
    showSelectionsIn(m_editor, {});
    m_highlighted = 0;
    m_editor->setFocus();
}

void SourceFindBar::search()
{
    m_stale = false;
    m_matches.clear();
    m_current = -1;
    if (!m_query.isEmpty()) {
        // One pass over the raw text, whose positions are the document's own (each block
        // separator counts one, as in the document): far cheaper than a cursor per match.
        const QString text = m_editor->document()->toRawText();
        const qsizetype length = m_query.size();
        for (qsizetype at = text.indexOf(m_query, 0, Qt::CaseInsensitive); at >= 0;
             at = text.indexOf(m_query, at + length, Qt::CaseInsensitive))
            m_matches.append(int(at));
    }
    if (!m_matches.isEmpty()) {
        // The first match from the caret on: the search goes on from where the user is.
        const int from = m_editor->textCursor().selectionStart();
        const auto it = std::lower_bound(m_matches.cbegin(), m_matches.cend(), from);
        select(it == m_matches.cend() ? 0 : int(it - m_matches.cbegin()));
    }
    showResult(m_query, count(), index());
}

void SourceFindBar::select(int current)
{
    m_current = current;
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(m_matches.at(current));
    cursor.setPosition(m_matches.at(current) + int(m_query.size()), QTextCursor::KeepAnchor);
    m_editor->setTextCursor(cursor);
    m_editor->centerCursor();
    showResult(m_query, count(), index());
}

void SourceFindBar::highlight()
{
    QList<QTextEdit::ExtraSelection> selections;
    if (isVisible() && !m_matches.isEmpty() && !m_stale) {
        // What is on screen, and a screen's worth on either side so that a short scroll shows
        // marks at once.
        const QRect view = m_editor->viewport()->rect();
        const int first = m_editor->cursorForPosition(QPoint(0, -view.height())).position();
        // A position, not a block: one line can hold the whole document. The slack covers the
        // rest of the last line on screen.
        int last = m_editor->cursorForPosition(QPoint(view.width(), 2 * view.height())).position()
            + 1000;
        const QPalette p = m_editor->palette();
        QColor all = p.color(QPalette::Highlight);
        all.setAlphaF(0.28f);
        QTextCharFormat plain;
        plain.setBackground(all);
        QTextCharFormat current;
        current.setBackground(p.color(QPalette::Highlight));
        current.setForeground(p.color(QPalette::HighlightedText));
        const int length = int(m_query.size());
        // Never past the end, whatever the order in which an edit's signals arrive.
        const int end = m_editor->document()->characterCount() - 1;
        last = last <= 0 ? end : std::min(last, end);
        auto it = std::lower_bound(m_matches.cbegin(), m_matches.cend(), first - length);
        for (; it != m_matches.cend() && *it + length <= last; ++it) {
            QTextCursor cursor(m_editor->document());
            cursor.setPosition(*it);
            cursor.setPosition(*it + length, QTextCursor::KeepAnchor);
            const bool isCurrent = int(it - m_matches.cbegin()) == m_current;
            selections.append({cursor, isCurrent ? current : plain});
        }
    }
    m_highlighted = int(selections.size());
    showSelectionsIn(m_editor, selections);
}

bool SourceFindBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editor->viewport() && event->type() == QEvent::Resize)
        m_remark.start();
    else if (watched == m_editor && event->type() == QEvent::KeyPress && isVisible()
             && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
        close();
        return true;
    }
    return FindRow::eventFilter(watched, event);
}

} // namespace quorvel::app
