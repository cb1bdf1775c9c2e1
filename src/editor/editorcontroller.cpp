#include "editorcontroller.h"

#include "core/documentmodel.h"
#include "core/documenttext.h"
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

QList<qsizetype> pieceCuts(QStringView line, qsizetype longest, qsizetype piece)
{
    QList<qsizetype> cuts;
    const qsizetype reach = std::max<qsizetype>(1, piece / 4);
    // The colouring reads each piece as a line of its own: one that starts with a word, not
    // with a mark ("#", "-", "```"), reads as the rest of the line it is.
    const auto wordAfter = [&](qsizetype at) {
        return line[at] == u' ' && at + 1 < line.size() && line[at + 1].isLetter();
    };
    qsizetype from = 0;
    while (line.size() - from > longest) {
        const qsizetype target = from + piece;
        qsizetype cut = target;
        qsizetype space = -1;
        for (qsizetype at = target - 1; at >= target - reach && space < 0; --at)
            space = wordAfter(at) ? at : -1;
        for (qsizetype at = target; at < target + reach && space < 0; ++at)
            space = wordAfter(at) ? at : -1;
        if (space >= 0)
            cut = space + 1;
        else if (const qsizetype back = line.mid(target - reach, reach).lastIndexOf(u' '); back >= 0)
            cut = target - reach + back + 1;
        else if (const qsizetype ahead = line.mid(target, reach).indexOf(u' '); ahead >= 0)
            cut = target + ahead + 1;
        if (line[cut - 1].isHighSurrogate() && line[cut].isLowSurrogate())
            --cut;
        cuts.append(cut);
        from = cut;
    }
    return cuts;
}

namespace {

// The shown text with the soft breaks put in, and where they are.
QString inPieces(QString shown, std::vector<qsizetype> &breaks)
{
    breaks.clear();
    QString out;
    qsizetype copied = 0;
    for (qsizetype start = 0; start <= shown.size();) {
        qsizetype end = shown.indexOf(u'\n', start);
        if (end < 0)
            end = shown.size();
        if (end - start > EditorController::kMaxPieceCharacters) {
            if (out.isNull())
                out.reserve(shown.size() + shown.size() / EditorController::kPieceCharacters + 1);
            out.append(QStringView(shown).mid(copied, start - copied));
            qsizetype last = 0;
            const QStringView line = QStringView(shown).mid(start, end - start);
            for (const qsizetype cut : pieceCuts(line, EditorController::kMaxPieceCharacters,
                                                 EditorController::kPieceCharacters)) {
                out.append(line.mid(last, cut - last));
                breaks.push_back(out.size());
                out.append(u'\n');
                last = cut;
            }
            out.append(line.mid(last));
            copied = end;
        }
        start = end + 1;
    }
    if (out.isNull())
        return shown;
    out.append(QStringView(shown).mid(copied));
    return out;
}

} // namespace

EditorController::EditorController(core::DocumentModel &model, MarkdownTextView &view,
                                   QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_text(model.text())
    , m_view(view)
{
    // One history for the document, kept by the text: the widget's own would take back only
    // what was typed here, and would not know what the page did.
    view.document()->setUndoRedoEnabled(false);
    connect(view.document(), &QTextDocument::contentsChange, this,
            &EditorController::contentsChanged);
    connect(&m_text, &core::DocumentText::edited, this, &EditorController::textEdited);
    // Pieces are cut once the document has finished the edit and laid it out.
    connect(view.document(), &QTextDocument::contentsChanged, this, &EditorController::fixPieces);
    connect(&view, &MarkdownTextView::undoRequested, this, &EditorController::undo);
    connect(&view, &MarkdownTextView::redoRequested, this, &EditorController::redo);
    const auto followHistory = [this] { m_view.setHistoryAvailable(m_text.canUndo(), m_text.canRedo()); };
    connect(&m_text, &core::DocumentText::historyChanged, this, followHistory);
    followHistory();
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
    connect(&view, &MarkdownTextView::wholeTextNeeded, this, &EditorController::finishFilling);
    showText(true);
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

void EditorController::showText(bool inSlices)
{
    stopFilling();
    const QString &text = m_text.text();
    m_hasCrLf = text.contains(u"\r\n");
    std::vector<qsizetype> breaks;
    QString shown = inPieces(editorForm(text), breaks);
    m_shownLength = shown.size();
    m_touched.reset();
    m_view.clearSoftBreaks();
    const QScopedValueRollback showing(m_showingText, true);
    // Colouring a text too large for it would only slow the load.
    if (shown.size() > MarkdownHighlighter::kMaxCharacters)
        m_view.updateHighlighting(shown.size());
    if (inSlices && shown.size() >= kFillInSlicesFrom) {
        // Nothing can be typed into a half-filled editor.
        m_view.setPlainText(QString());
        m_view.setReadOnly(true);
        m_fillingText = std::move(shown);
        m_fillingBreaks = std::move(breaks);
        m_filling = true;
        m_filled = 0;
        if (!m_fillPaused)
            m_fillTimer->start();
    } else {
        m_view.setPlainText(shown);
        m_view.addSoftBreaks(breaks);
    }
    m_view.updateHighlighting(m_shownLength);
}

void EditorController::finishFilling()
{
    if (m_filling && std::exchange(m_fillStale, false))
        showText(true);
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
    // The caret stays where it was, at the top unless the user put it elsewhere: at the end,
    // it would be pushed along by every slice.
    const QTextCursor caret = m_view.textCursor();
    const int anchor = caret.anchor();
    const int position = caret.position();
    QTextCursor end(m_view.document());
    while (m_filled < m_fillingText.size() && (all || busy.elapsed() < 20)) {
        qsizetype cut = std::min(m_filled + kSliceCharacters, m_fillingText.size());
        if (cut < m_fillingText.size()) {
            const qsizetype lineEnd =
                QStringView(m_fillingText).mid(m_filled, cut - m_filled).lastIndexOf(u'\n');
            if (lineEnd >= 0)
                cut = m_filled + lineEnd + 1;
            else if (m_fillingText.at(cut - 1).isHighSurrogate())
                --cut;
        }
        end.movePosition(QTextCursor::End);
        end.insertText(QStringView(m_fillingText).mid(m_filled, cut - m_filled).toString());
        m_filled = cut;
    }
    if (m_view.textCursor().anchor() != anchor || m_view.textCursor().position() != position) {
        QTextCursor kept(m_view.document());
        kept.setPosition(anchor);
        kept.setPosition(position, QTextCursor::KeepAnchor);
        m_view.setTextCursor(kept);
    }
    if (m_filled < m_fillingText.size()) {
        if (!m_fillPaused)
            m_fillTimer->start();
        return;
    }
    // The document moves every cursor it has at each slice: the soft breaks' come when all
    // is in.
    m_view.addSoftBreaks(m_fillingBreaks);
    stopFilling();
}

void EditorController::pauseFilling()
{
    m_fillPaused = true;
    m_fillTimer->stop();
    // Held back for as long as the editor stays hidden, perhaps for good: a second copy of a
    // long text is not kept meanwhile.
    if (m_filling) {
        m_fillingText = QString();
        m_fillStale = true;
    }
}

void EditorController::resumeFilling()
{
    if (!std::exchange(m_fillPaused, false) || !m_filling)
        return;
    if (std::exchange(m_fillStale, false))
        showText(true);
    else
        m_fillTimer->start();
}

void EditorController::stopFilling()
{
    m_fillStale = false;
    if (!std::exchange(m_filling, false))
        return;
    m_fillTimer->stop();
    m_fillingText = QString();
    m_fillingBreaks = {};
    m_view.setReadOnly(false);
}

qsizetype EditorController::widgetLength() const
{
    // The document counts its final paragraph break, which the text does not have.
    return m_view.document()->characterCount() - 1;
}

qsizetype EditorController::textOffset(qsizetype formPosition, qsizetype from,
                                       qsizetype at) const
{
    if (!m_hasCrLf)
        return formPosition;
    const QString &text = m_text.text();
    qsizetype i = from;
    for (qsizetype seen = at; seen < formPosition && i < text.size(); ++seen)
        i += text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? 2 : 1;
    return i;
}

std::pair<qsizetype, qsizetype> EditorController::selectedSpan() const
{
    const QTextCursor cursor = m_view.textCursor();
    if (m_filling || !cursor.hasSelection())
        return {0, 0};
    const qsizetype first = m_view.withoutSoftBreaks(cursor.selectionStart());
    const qsizetype start = textOffset(first);
    return {start, textOffset(m_view.withoutSoftBreaks(cursor.selectionEnd()), start, first)};
}

std::optional<qsizetype> EditorController::caretOffset() const
{
    if (m_filling)
        return std::nullopt;
    return textOffset(m_view.withoutSoftBreaks(m_view.textCursor().position()));
}

qsizetype EditorController::widgetPosition(qsizetype offset) const
{
    if (m_hasCrLf)
        offset -= QStringView(m_text.text()).left(offset).count(u"\r\n");
    return m_view.withSoftBreaks(offset);
}

void EditorController::checkLineBreaks()
{
    // Once there, a "\r\n" is assumed to stay: a wrong guess costs only speed.
    m_hasCrLf = m_hasCrLf || m_text.text().contains(u"\r\n");
}

void EditorController::contentsChanged(int position, int removed, int added)
{
    if (m_showingText || m_filling)
        return;
    // The soft breaks as they were, for the span's old extent, and as the edit left them: the
    // comparison below is made without them, so that a separator the user typed can never be
    // taken for one the view put in, nor the other way round.
    const std::vector<qsizetype> softBefore = m_view.softBreaks();
    m_view.followSoftBreaks();
    const auto softUpTo = [](const std::vector<qsizetype> &soft, qsizetype position) {
        return qsizetype(std::lower_bound(soft.cbegin(), soft.cend(), position) - soft.cbegin());
    };
    const qsizetype length = widgetLength();
    const qsizetype oldLength = std::exchange(m_shownLength, length);
    qsizetype start = std::min<qsizetype>(position, oldLength);
    qsizetype end = std::min<qsizetype>(start + removed, oldLength);
    qsizetype inserted = length - (oldLength - (end - start));
    if (inserted < 0 || inserted > added + 1
        || softUpTo(softBefore, start) != softUpTo(m_view.softBreaks(), start)) {
        // Not a span we can follow: compare the whole, which the trimming below brings back to
        // what really changed.
        start = 0;
        end = oldLength;
        inserted = length;
    }
    const QString now = m_view.sourceText(start, start + inserted);
    piecesTouched(start, start + inserted);

    // The characters of the text that the widget's span stood for. A highlighter's repaint
    // reports a span as changed with nothing typed: trimmed to what differs, it is nothing.
    const QString &text = m_text.text();
    const qsizetype formStart = start - softUpTo(softBefore, start);
    const qsizetype formEnd = end - softUpTo(softBefore, end);
    const qsizetype textStart = textOffset(formStart);
    const qsizetype textEnd = textOffset(formEnd, textStart, formStart);
    const QStringView was = QStringView(text).mid(textStart, textEnd - textStart);
    const core::TextEdit change = core::TextEdit::between(editorForm(was), now);
    if (change.isEmpty())
        return;
    const qsizetype from = textOffset(formStart + change.start, textStart, formStart);
    const qsizetype to = textOffset(formStart + change.end(), from, formStart + change.start);

    // New lines get the file's own line break. Two breaks meeting as "\r" and "\n" would read
    // as one "\r\n", a line fewer than the widget shows: the "\r" becomes a break of its own.
    QString insert = change.inserted;
    const QString lineBreak = core::dominantLineBreak(text);
    if (lineBreak != u"\n")
        insert.replace(u'\n', lineBreak);
    const QChar before = from > 0 ? text[from - 1] : QChar();
    const QChar after = to < text.size() ? text[to] : QChar();
    if (before == u'\r' && (insert.isEmpty() ? after == u'\n' : insert.startsWith(u'\n')))
        insert.prepend(u'\n');
    if (!insert.isEmpty() && insert.endsWith(u'\r') && after == u'\n')
        insert.append(u'\n');
    m_text.apply({from, to - from, insert}, core::EditOrigin::SourceEditor);
    if (insert.contains(u'\r') || before == u'\r')
        checkLineBreaks();
    m_view.updateHighlighting(length);
}

void EditorController::textEdited(const core::TextEdit &edit, core::EditOrigin origin)
{
    if (origin == core::EditOrigin::SourceEditor)
        return;
    if (m_filling) {
        // A held-back fill takes the whole text when it goes on; a running one starts again.
        if (m_fillPaused)
            m_fillStale = true;
        else
            showText(true);
        return;
    }
    applyToWidget(edit);
}

void EditorController::applyToWidget(const core::TextEdit &edit)
{
    const QString &text = m_text.text();
    const bool breaksMeet = edit.inserted.contains(u'\r')
        || (edit.start > 0 && text[edit.start - 1] == u'\r');
    core::TextEdit shown;
    if (!m_hasCrLf && !breaksMeet) {
        // A form position is an offset in the text.
        shown = {edit.start, edit.removed, editorForm(edit.inserted)};
    } else {
        checkLineBreaks();
        // Where "\r\n" is about, the widget's span is found by comparing: a change from another
        // view is rare enough, and never a keystroke here.
        shown = core::TextEdit::between(m_view.sourceText(0, widgetLength()), editorForm(text));
    }
    if (shown.isEmpty())
        return;
    // Soft breaks inside the span go with it; those at its edges stay.
    const qsizetype from = m_view.withSoftBreaks(shown.start, shown.removed > 0);
    const qsizetype to = std::max(from, m_view.withSoftBreaks(shown.end()));
    {
        const QScopedValueRollback showing(m_showingText, true);
        QTextCursor cursor(m_view.document());
        cursor.setPosition(int(from));
        cursor.setPosition(int(to), QTextCursor::KeepAnchor);
        cursor.insertText(shown.inserted);
        m_view.followSoftBreaks();
        m_shownLength = widgetLength();
        piecesTouched(from, from + shown.inserted.size());
        m_view.updateHighlighting(m_shownLength);
    }
    fixPieces();
}

void EditorController::piecesTouched(qsizetype from, qsizetype to)
{
    if (m_touched)
        m_touched = std::pair(std::min(m_touched->first, from), std::max(m_touched->second, to));
    else
        m_touched = std::pair(from, to);
}

void EditorController::fixPieces()
{
    if (m_showingText || m_filling || !m_touched)
        return;
    const auto [from, to] = *std::exchange(m_touched, std::nullopt);
    QTextDocument *document = m_view.document();
    const qsizetype length = widgetLength();
    QTextBlock first = document->findBlock(int(std::min(from, length)));
    if (first.previous().isValid())
        first = first.previous();
    QTextBlock block = document->findBlock(int(std::min(to, length)));
    if (block.next().isValid())
        block = block.next();
    const QScopedValueRollback showing(m_showingText, true);
    bool changed = false;
    // From the last block up, so that what is done to a block moves none before it.
    while (block.isValid()) {
        const QTextBlock previous = block == first ? QTextBlock() : block.previous();
        const qsizetype start = block.position();
        const qsizetype separator = start + block.length() - 1;
        const QTextBlock next = block.next();
        if (m_view.isSoftBreak(separator) && (block.length() == 1 || !next.isValid() || next.length() == 1)) {
            // An empty piece would show as an empty line the text does not have.
            QTextCursor cursor(document);
            cursor.setPosition(int(separator));
            cursor.deleteChar();
            m_view.followSoftBreaks();
            changed = true;
        }
        const QTextBlock now = document->findBlock(int(start));
        if (now.length() - 1 > kMaxPieceCharacters) {
            const QList<qsizetype> cuts = pieceCuts(now.text(), kMaxPieceCharacters, kPieceCharacters);
            for (auto cut = cuts.crbegin(); cut != cuts.crend(); ++cut)
                m_view.addSoftBreak(start + *cut, true);
            changed = true;
        }
        block = previous;
    }
    if (changed) {
        m_view.followSoftBreaks();
        m_shownLength = widgetLength();
    }
}

void EditorController::undo()
{
    if (const auto caret = m_text.undo())
        placeCaret(*caret);
}

void EditorController::redo()
{
    if (const auto caret = m_text.redo())
        placeCaret(*caret);
}

void EditorController::placeCaret(qsizetype offset)
{
    if (m_filling)
        return;
    QTextCursor cursor(m_view.document());
    cursor.setPosition(int(std::min(widgetPosition(offset), widgetLength())));
    m_view.setTextCursor(cursor);
    m_view.ensureCursorVisible();
}

} // namespace quorvel::editor
