#include "editorcontroller.h"

#include "core/documentmodel.h"
#include "core/lineendings.h"
#include "markdownhighlighter.h"
#include "markdowntextview.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

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
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this,
            &EditorController::reportScroll);
    // Moving the view to the caret (keys, typing, find) sets the scroll bar with its signals
    // held back; the view's update request still says that it moved.
    connect(&view, &QPlainTextEdit::updateRequest, this, [this](const QRect &, int dy) {
        if (dy != 0)
            reportScroll();
    });
    m_fillTimer = new QTimer(this);
    m_fillTimer->setSingleShot(true);
    m_fillTimer->setInterval(0);
    connect(m_fillTimer, &QTimer::timeout, this, [this] { fillSlices(false); });
    showText(model.getText(), true);
}

void EditorController::scrollToFraction(double fraction)
{
    QScrollBar *bar = m_view.verticalScrollBar();
    const QScopedValueRollback following(m_followingPage, true);
    bar->setValue(bar->minimum() + qRound(std::clamp(fraction, 0.0, 1.0) * (bar->maximum() - bar->minimum())));
    m_reportedScroll = bar->value();
}

void EditorController::reportScroll()
{
    const int value = m_view.verticalScrollBar()->value();
    if (m_followingPage || value == m_reportedScroll)
        return;
    m_reportedScroll = value;
    m_model.editorScrolled(scrollFraction());
}

double EditorController::scrollFraction() const
{
    const QScrollBar *bar = m_view.verticalScrollBar();
    const int range = bar->maximum() - bar->minimum();
    return range > 0 ? double(bar->value() - bar->minimum()) / range : 0.0;
}

void EditorController::showText(const QString &text, bool inSlices)
{
    stopFilling();
    setModelText(text);
    m_shownText = editorForm(text);
    m_showingText = true;
    // Colouring a text too large for it would only slow the load.
    if (m_shownText.size() > MarkdownHighlighter::kMaxCharacters)
        m_view.updateHighlighting(m_shownText.size());
    if (inSlices && m_shownText.size() >= kFillInSlicesFrom) {
        // Nothing can be typed into a half-filled editor, and nothing it holds meanwhile goes to
        // the model: the model keeps the whole text throughout.
        m_view.setPlainText(QString());
        m_view.document()->setUndoRedoEnabled(false);
        m_view.setReadOnly(true);
        m_filling = true;
        m_filled = 0;
        if (!m_fillPaused)
            m_fillTimer->start();
    } else {
        m_view.setPlainText(m_shownText);
    }
    m_view.updateHighlighting(m_shownText.size());
    m_showingText = false;
    m_pending = false;
    m_pendingExternal = false;
    m_recent.clear();
}

void EditorController::finishFilling()
{
    fillSlices(true);
}

void EditorController::fillSlices(bool all)
{
    if (!m_filling)
        return;
    // Slices of whole lines, a few at a time, short enough that the page's messages and the
    // window's painting are never kept waiting for long.
    QElapsedTimer busy;
    busy.start();
    const QScopedValueRollback showing(m_showingText, true);
    QTextCursor end(m_view.document());
    while (m_filled < m_shownText.size() && (all || busy.elapsed() < 20)) {
        qsizetype cut = std::min(m_filled + kSliceCharacters, m_shownText.size());
        if (cut < m_shownText.size()) {
            const qsizetype lineEnd =
                QStringView(m_shownText).mid(m_filled, cut - m_filled).lastIndexOf(u'\n');
            if (lineEnd >= 0)
                cut = m_filled + lineEnd + 1;
            else if (m_shownText.at(cut - 1).isHighSurrogate())
                --cut;
        }
        end.movePosition(QTextCursor::End);
        end.insertText(QStringView(m_shownText).mid(m_filled, cut - m_filled).toString());
        m_filled = cut;
    }
    if (m_filled < m_shownText.size()) {
        if (!m_fillPaused)
            m_fillTimer->start();
        return;
    }
    stopFilling();
}

void EditorController::pauseFilling()
{
    m_fillPaused = true;
    m_fillTimer->stop();
}

void EditorController::resumeFilling()
{
    if (!std::exchange(m_fillPaused, false) || !m_filling)
        return;
    m_fillTimer->start();
}

void EditorController::stopFilling()
{
    if (!std::exchange(m_filling, false))
        return;
    m_fillTimer->stop();
    m_view.document()->setUndoRedoEnabled(true);
    m_view.setReadOnly(false);
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
    // An outside change waits for the composition to end and then replaces everything; sending
    // the composed text now would overwrite it.
    if (m_pending && m_pendingExternal) {
        m_shownText.replace(start, end - start, inserted);
        return;
    }
    QString current = m_model.getText();
    const bool sameBase = current.constData() == m_modelText.constData() || current == m_modelText;
    if (sameBase && !m_modelTextHasCarriageReturn && !inserted.contains(u'\r')) {
        // One offset in the editor is one in the file: patch the span where it lies. Nothing
        // here may hold on to the model's text meanwhile, or patching it would copy it whole.
        remember({start, inserted.size(), current.mid(start, end - start)});
        current = QString();
        m_modelText = QString();
        m_shownText.replace(start, end - start, inserted);
        m_sending = true;
        m_model.replaceText(start, end - start, inserted);
        m_sending = false;
        const qsizetype expected = m_shownText.size();
        m_modelText = m_model.getText();
        if (m_modelText.size() != expected)
            m_modelTextHasCarriageReturn = m_modelText.contains(u'\r');
    } else {
        // The editor's text wins over whatever the model got meanwhile.
        QString after = m_shownText;
        after.replace(start, end - start, inserted);
        const QString before = m_modelText;
        const QString merged = core::mergeEditorEdit(before, m_shownText, after);
        m_shownText = std::move(after);
        m_sending = true;
        m_model.setText(merged);
        m_sending = false;
        setModelText(m_model.getText());
        const core::TextChange back = core::textChange(m_modelText, before);
        remember({back.start, back.end - back.start, back.inserted.toString()});
    }
    m_view.updateHighlighting(m_shownText.size());
}

void EditorController::remember(Before before)
{
    m_recent.prepend(std::move(before));
    // Three texts of this editor's, and the links between them.
    qsizetype sent = 0;
    for (qsizetype i = 0; i < m_recent.size(); ++i) {
        if (m_recent[i].sent && ++sent == 3) {
            m_recent.resize(i + 1);
            break;
        }
    }
    if (m_recent.size() > 8)
        m_recent.resize(8);
}

void EditorController::setModelText(const QString &text)
{
    m_modelText = text;
    m_modelTextHasCarriageReturn = text.contains(u'\r');
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
    // Most updates differ in length from every old text; only those that could match are built.
    qsizetype size = m_modelText.size();
    bool possible = false;
    for (const Before &before : m_recent) {
        size += before.removed.size() - before.length;
        possible = possible || (before.sent && size == text.size());
    }
    if (!possible)
        return false;
    QString old = m_modelText;
    for (const Before &before : m_recent) {
        old.replace(before.start, before.length, before.removed);
        if (before.sent && old == text)
            return true;
    }
    return false;
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
        // Only the line breaks changed; the texts sent before stay recognisable through it.
        const core::TextChange back = core::textChange(text, m_modelText);
        remember({back.start, back.end - back.start, back.inserted.toString(), false});
        setModelText(text);
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
