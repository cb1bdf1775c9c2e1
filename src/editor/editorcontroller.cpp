#include "editorcontroller.h"

#include "core/documentmodel.h"
#include "core/lineendings.h"
#include "markdownhighlighter.h"
#include "markdowntextview.h"

#include <QScrollBar>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextDocument>

namespace quorvel::editor {

QString editorForm(QStringView text)
{
    // The widget keeps a U+2028 inside its line, so it can stay as it is; every other break
    // starts a new block.
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            out.append(u'\n');
        } else if (c == QChar::ParagraphSeparator) {
            out.append(u'\n');
        } else {
            out.append(c);
        }
    }
    return out;
}

EditorController::EditorController(core::DocumentModel &model, MarkdownTextView &view,
                                   QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_view(view)
    , m_seenExternalVersion(model.externalVersion())
{
    connect(view.document(), &QTextDocument::contentsChange, this,
            &EditorController::contentsChanged);
    connect(&view, &MarkdownTextView::compositionEnded, this, &EditorController::applyPending);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!m_followingPage)
            m_model.editorScrolled(scrollFraction());
    });
    showText(model.getText());
}

void EditorController::scrollToFraction(double fraction)
{
    QScrollBar *bar = m_view.verticalScrollBar();
    const QScopedValueRollback following(m_followingPage, true);
    bar->setValue(bar->minimum() + qRound(std::clamp(fraction, 0.0, 1.0) * (bar->maximum() - bar->minimum())));
}

double EditorController::scrollFraction() const
{
    const QScrollBar *bar = m_view.verticalScrollBar();
    const int range = bar->maximum() - bar->minimum();
    return range > 0 ? double(bar->value() - bar->minimum()) / range : 0.0;
}

void EditorController::showText(const QString &text)
{
    m_modelText = text;
    m_shownText = editorForm(text);
    m_showingText = true;
    // Colouring a text too large for it would only slow the load.
    if (m_shownText.size() > MarkdownHighlighter::kMaxCharacters)
        m_view.updateHighlighting(m_shownText.size());
    m_view.setPlainText(m_shownText);
    m_view.updateHighlighting(m_shownText.size());
    m_showingText = false;
    m_pending = false;
    m_pendingExternal = false;
    m_recent.clear();
}

void EditorController::contentsChanged(int position, int removed, int added)
{
    if (m_showingText)
        return;
    // The document counts its final paragraph break, which the text does not have.
    const qsizetype length = m_view.document()->characterCount() - 1;
    const qsizetype start = std::min<qsizetype>(position, m_shownText.size());
    const qsizetype end = std::min<qsizetype>(start + removed, m_shownText.size());
    const qsizetype inserted = length - (m_shownText.size() - (end - start));
    if (inserted < 0 || inserted > added + 1) {
        // Not a span we can follow: take the whole text.
        const QString shown = m_view.rawText();
        const core::TextChange change = core::textChange(m_shownText, shown);
        sendToModel(change.start, change.end, change.inserted.toString());
        return;
    }
    QTextCursor span(m_view.document());
    span.setPosition(int(start));
    span.setPosition(int(start + inserted), QTextCursor::KeepAnchor);
    QString text = span.selectedText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    // A highlighter's repaint reports its span as changed; nothing was typed.
    if (QStringView(m_shownText).mid(start, end - start) == text)
        return;
    sendToModel(start, end, text);
}

void EditorController::sendToModel(qsizetype start, qsizetype end, const QString &inserted)
{
    QString after = m_shownText;
    after.replace(start, end - start, inserted);
    // An outside change waits for the composition to end and then replaces everything; sending
    // the composed text now would overwrite it.
    if (m_pending && m_pendingExternal) {
        m_shownText = std::move(after);
        return;
    }
    QString current = m_model.getText();
    QString merged;
    const bool sameBase = current.constData() == m_modelText.constData() || current == m_modelText;
    if (sameBase && !current.contains(u'\r')) {
        // One offset in the editor is one in the file: patch the span, no scan of the text.
        merged = std::move(current);
        current = QString();
        merged.replace(start, end - start, inserted);
    } else {
        // The editor's text wins over whatever the model got meanwhile.
        merged = core::mergeEditorEdit(m_modelText, m_shownText, after);
    }
    m_shownText = std::move(after);
    m_recent.prepend(std::exchange(m_modelText, merged));
    if (m_recent.size() > 3)
        m_recent.removeLast();
    m_sending = true;
    m_model.setText(merged);
    m_sending = false;
    m_modelText = m_model.getText();
    m_view.updateHighlighting(m_shownText.size());
}

void EditorController::modelTextChanged(const QString &text)
{
    // The editor's own edit coming back.
    if (m_sending || text.constData() == m_modelText.constData() || text == m_modelText)
        return;
    const int version = m_model.externalVersion();
    const bool external = version > m_seenExternalVersion;
    m_seenExternalVersion = version;
    if (m_view.isComposing()) {
        m_pending = true;
        m_pendingExternal = m_pendingExternal || external;
        return;
    }
    apply(text, external);
}

bool EditorController::isStale(const QString &text) const
{
    return std::any_of(m_recent.begin(), m_recent.end(),
                       [&](const QString &old) { return old == text; });
}

void EditorController::apply(const QString &text, bool external)
{
    // An old text of this editor's coming back late while the user types: the typing wins,
    // and the model gets it back.
    if (!external && m_view.hasFocus() && isStale(text)) {
        m_sending = true;
        m_model.setText(m_modelText);
        m_sending = false;
        return;
    }
    replaceKeepingPlace(text);
}

void EditorController::applyPending()
{
    if (!std::exchange(m_pending, false))
        return;
    const bool external = std::exchange(m_pendingExternal, false);
    const QString text = m_model.getText();
    if (external || text != m_modelText)
        apply(text, external);
}

void EditorController::replaceKeepingPlace(const QString &text)
{
    if (editorForm(text) == m_shownText && m_view.rawText() == m_shownText) {
        m_modelText = text;
        return;
    }
    const QTextCursor before = m_view.textCursor();
    const int anchor = before.anchor();
    const int position = before.position();
    const int scroll = m_view.verticalScrollBar()->value();
    const int sideways = m_view.horizontalScrollBar()->value();
    showText(text);
    const int last = m_view.document()->characterCount() - 1;
    QTextCursor cursor(m_view.document());
    cursor.setPosition(std::min(anchor, last));
    cursor.setPosition(std::min(position, last), QTextCursor::KeepAnchor);
    m_view.setTextCursor(cursor);
    m_view.verticalScrollBar()->setValue(scroll);
    m_view.horizontalScrollBar()->setValue(sideways);
}

} // namespace quorvel::editor
