#include "sourcefindbar.h"

#include "core/documenttext.h"
#include "core/textsearch.h"
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

SourceFindBar::SourceFindBar(editor::MarkdownTextView *editor, core::DocumentText &text, QWidget *anchor)
    : FindRow(anchor)
    , m_editor(editor)
    , m_text(text)
{
    m_research.setSingleShot(true);
    m_research.setInterval(0);
    connect(&m_research, &QTimer::timeout, this, [this] {
        search();
        highlight();
    });
    connect(this, &FindRow::queryEdited, this, &SourceFindBar::setQuery);
    connect(this, &FindRow::optionsEdited, this, [this] {
        search();
        highlight();
    });
    connect(this, &FindRow::nextRequested, this, [this] { step(1); });
    connect(this, &FindRow::previousRequested, this, [this] { step(-1); });
    connect(this, &FindRow::closeRequested, this, &SourceFindBar::close);
    connect(this, &FindRow::replaceRequested, this, &SourceFindBar::replace);
    connect(this, &FindRow::replaceAllRequested, this, &SourceFindBar::replaceAll);
    // Told before the editor shows the edit: marks made with the old positions would land in
    // the wrong place.
    connect(&text, &core::DocumentText::edited, this, [this] {
        clearNote();
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
    // Matches are shown at the editor's positions, which a half-filled editor does not have.
    m_editor->needWholeText();
    if (action == Action::Show || !isVisible()) {
        // From the editor's selection when there is one on a single line, as editors do.
        const QTextCursor cursor = m_editor->textCursor();
        const QString selected =
            m_editor->sourceText(cursor.selectionStart(), cursor.selectionEnd())
                .replace(u'\n', QChar::ParagraphSeparator);
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

void SourceFindBar::replace()
{
    if (m_stale)
        search();
    if (m_matches.isEmpty())
        return;
    const core::TextSearch finder(m_query, options());
    const Match &match = m_matches.at(std::max(m_current, 0));
    const auto edit = finder.replace(m_text.text(), {match.start, match.length},
                                     replaceField()->text());
    if (edit)
        m_text.apply(*edit, core::EditOrigin::Program);
    // The editor has taken the edit by now; the search goes on after what was put in, so that
    // a replacement that matches again is not replaced again.
    m_research.stop();
    search(edit ? std::optional(edit->insertedEnd()) : std::nullopt);
    highlight();
}

void SourceFindBar::replaceAll()
{
    const core::TextSearch finder(m_query, options());
    showError(finder.error());
    if (!finder.isValid())
        return;
    const QList<core::TextEdit> edits = finder.replaceAll(m_text.text(), replaceField()->text());
    m_text.applyAll(edits, core::EditOrigin::Program);
    m_research.stop();
    search();
    highlight();
    showNote(edits.isEmpty() ? tr("Nothing to replace") : tr("%n replaced", "", int(edits.size())));
}

void SourceFindBar::search(std::optional<qsizetype> from)
{
    m_editor->needWholeText();
    clearNote();
    m_stale = false;
    m_matches.clear();
    m_current = -1;
    const core::TextSearch finder(m_query, options());
    showError(finder.error());
    const QString &text = m_text.text();
    const QList<core::TextMatch> found = finder.matches(text);
    if (!found.isEmpty()) {
        // The editor shows each "\r\n" as one character: its positions are the text's offsets
        // less the pairs before them, counted in one pass since matches come in order.
        const bool pairs = text.contains(u"\r\n");
        qsizetype counted = 0;
        qsizetype before = 0;
        const auto shownAt = [&](qsizetype offset) {
            if (!pairs)
                return int(offset);
            if (offset > counted) {
                if (counted > 0 && text[counted - 1] == u'\r' && text[counted] == u'\n')
                    ++before;
                before += QStringView(text).mid(counted, offset - counted).count(u"\r\n");
                counted = offset;
            }
            return int(offset - before);
        };
        m_matches.reserve(found.size());
        // A very long line is shown in pieces, with breaks of the editor's own in between.
        for (const core::TextMatch &match : found) {
            const int start = shownAt(match.start);
            const int end = shownAt(match.end());
            m_matches.append({match.start, match.length,
                              int(m_editor->withSoftBreaks(start, end > start)),
                              int(m_editor->withSoftBreaks(end))});
        }
        qsizetype at = 0;
        if (from) {
            at = std::find_if(m_matches.cbegin(), m_matches.cend(),
                              [&](const Match &m) { return m.start >= *from; })
                - m_matches.cbegin();
        } else {
            // The first match from the caret on: the search goes on from where the user is.
            const int caret = m_editor->textCursor().selectionStart();
            at = std::lower_bound(m_matches.cbegin(), m_matches.cend(), caret,
                                  [](const Match &m, int position) { return m.from < position; })
                - m_matches.cbegin();
        }
        select(at == m_matches.size() ? 0 : int(at));
    }
    showResult(m_query, count(), index());
}

void SourceFindBar::select(int current)
{
    m_current = current;
    // A long note may not all be in the editor yet.
    const int end = m_editor->document()->characterCount() - 1;
    QTextCursor cursor(m_editor->document());
    cursor.setPosition(std::min(m_matches.at(current).from, end));
    cursor.setPosition(std::min(m_matches.at(current).to, end), QTextCursor::KeepAnchor);
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
        // Never past the end, whatever the order in which an edit's signals arrive.
        const int end = m_editor->document()->characterCount() - 1;
        last = last <= 0 ? end : std::min(last, end);
        auto it = std::lower_bound(m_matches.cbegin(), m_matches.cend(), first,
                                   [](const Match &m, int position) { return m.to < position; });
        for (; it != m_matches.cend() && it->to <= last; ++it) {
            QTextCursor cursor(m_editor->document());
            cursor.setPosition(it->from);
            cursor.setPosition(it->to, QTextCursor::KeepAnchor);
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
