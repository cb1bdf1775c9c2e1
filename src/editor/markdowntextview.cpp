#include "markdowntextview.h"

#include <QKeyEvent>

#include <algorithm>

#include <QScrollBar>

#include <QRegularExpression>

#include "markdownhighlighter.h"
#include "spellchecker.h"

#include <QMessageBox>

#include <QTimer>

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QTextBlock>

namespace quorvel::editor {

using namespace Qt::StringLiterals;

namespace {

QImage imageIn(const QMimeData *source)
{
    if (source->hasImage())
        return qvariant_cast<QImage>(source->imageData());
    static const QStringList kinds{u"png"_s, u"jpg"_s, u"jpeg"_s, u"gif"_s,
                                   u"webp"_s, u"bmp"_s, u"tif"_s, u"tiff"_s};
    const QList<QUrl> urls = source->urls();
    if (urls.size() == 1 && urls.first().isLocalFile()
        && kinds.contains(QFileInfo(urls.first().toLocalFile()).suffix().toLower()))
        return QImage(urls.first().toLocalFile());
    return {};
}

} // namespace

MarkdownTextView::MarkdownTextView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setFrameShape(QFrame::NoFrame);
    setTabChangesFocus(false);
    setEditorFontSize(QFontDatabase::systemFont(QFontDatabase::FixedFont).pointSizeF());
    document()->setDocumentMargin(24);
    m_highlighter = new MarkdownHighlighter(nullptr);
    m_highlighter->setParent(this);
    m_highlighter->setPalette(palette());
    // The margins around the column are the page's colour too, not a grey frame around it.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    updateHighlighting(0);
    m_spellingTimer = new QTimer(this);
    m_spellingTimer->setSingleShot(true);
    m_spellingTimer->setInterval(200);
    connect(m_spellingTimer, &QTimer::timeout, this, &MarkdownTextView::checkSpelling);
    const auto later = [this] {
        if (m_spellingSource)
            m_spellingTimer->start();
    };
    connect(document(), &QTextDocument::contentsChanged, this, later);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, later);
}

void MarkdownTextView::setSpellChecker(SpellChecker *checker)
{
    setSpellCheckerSource(checker ? std::function<SpellChecker *()>([checker] { return checker; })
                                  : nullptr);
}

void MarkdownTextView::setSpellCheckerSource(std::function<SpellChecker *()> source)
{
    m_spellingSource = std::move(source);
    if (m_spellingSource)
        m_spellingTimer->start();
    else
        checkSpelling();
}

SpellChecker *MarkdownTextView::spellChecker() const
{
    return m_spellingSource ? m_spellingSource() : nullptr;
}

void MarkdownTextView::setFindSelections(const QList<QTextEdit::ExtraSelection> &selections)
{
    m_findSelections = selections;
    setExtraSelections(m_spellingMarks + m_findSelections);
}

void MarkdownTextView::checkSpelling()
{
    m_spellingMarks.clear();
    SpellChecker *spelling = isReadOnly() ? nullptr : spellChecker();
    if (spelling) {
        QTextCharFormat wavy;
        wavy.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
        wavy.setUnderlineColor(QColor(220, 40, 40));
        const int bottom = viewport()->height();
        for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
            if (blockBoundingGeometry(block).translated(contentOffset()).top() > bottom)
                break;
            // Code and front matter are no prose: the colouring knows where they are.
            const QString line = block.text();
            const QString trimmed = line.trimmed();
            if (block.userState() > 0 || trimmed.startsWith(u"```"_s) || trimmed.startsWith(u"~~~"_s)
                || line.startsWith(u"    "_s) || line.startsWith(u'\t'))
                continue;
            for (const auto &[start, length] : spelling->misspelt(line)) {
                QTextCursor cursor(block);
                cursor.setPosition(block.position() + int(start));
                cursor.setPosition(block.position() + int(start + length), QTextCursor::KeepAnchor);
                m_spellingMarks.append({cursor, wavy});
            }
        }
    }
    setExtraSelections(m_spellingMarks + m_findSelections);
}

QTextCursor MarkdownTextView::misspeltAt(int position) const
{
    for (const QTextEdit::ExtraSelection &mark : m_spellingMarks) {
        if (mark.cursor.selectionStart() <= position && position <= mark.cursor.selectionEnd())
            return mark.cursor;
    }
    return {};
}

void MarkdownTextView::updateHighlighting(qsizetype characters)
{
    const bool small = characters <= MarkdownHighlighter::kMaxCharacters;
    if (small && m_highlighter->document() != document())
        m_highlighter->setDocument(document());
    else if (!small && m_highlighter->document())
        m_highlighter->setDocument(nullptr);
}

bool MarkdownTextView::isHighlighting() const
{
    return m_highlighter->document() == document();
}

void MarkdownTextView::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_highlighter)
        m_highlighter->setPalette(palette());
}

void MarkdownTextView::setEditorFontSize(double points)
{
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(points);
    setFont(mono);
    updateMargins();
}

void MarkdownTextView::setMaxTextWidth(int pixels)
{
    m_maxTextWidth = pixels;
    updateMargins();
}

void MarkdownTextView::updateMargins()
{
    const int side = std::max(0, (width() - m_maxTextWidth) / 2);
    setViewportMargins(side, 0, side, 0);
}

void MarkdownTextView::resizeEvent(QResizeEvent *event)
{
    QPlainTextEdit::resizeEvent(event);
    updateMargins();
}

bool MarkdownTextView::scrollToHeading(int level, const QString &text)
{
    needWholeText();
    const QString marks = QString(std::clamp(level, 1, 6), u'#');
    const QString wanted = text.simplified();
    // An underlined heading (a line of = or - below) has no marks; its text line is the one.
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const QString raw = block.text();
        const QString line = raw.trimmed();
        // Four spaces or a tab in front make it code, not a heading.
        if (raw.startsWith(u'\t') || raw.startsWith(QStringLiteral("    ")))
            continue;
        QString title;
        if (line.startsWith(marks) && (line.size() == marks.size() || line.at(marks.size()) == u' '))
            title = line.mid(marks.size());
        else if (const QTextBlock next = block.next(); next.isValid() && !line.isEmpty()) {
            const QString under = next.text().trimmed();
            if (!under.isEmpty() && (under.count(u'=') == under.size() || under.count(u'-') == under.size()))
                title = line;
        }
        if (title.isEmpty())
            continue;
        // Emphasis, code and link marks are not in the outline's text.
        static const QRegularExpression link(QStringLiteral("!?\\[([^\\]]*)\\]\\([^)]*\\)"));
        static const QRegularExpression decoration(QStringLiteral("[*_`~]|\\s#+\\s*$"));
        title.replace(link, QStringLiteral("\\1"));
        title.remove(decoration);
        if (title.simplified() != wanted && !title.simplified().contains(wanted))
            continue;
        QTextCursor cursor(block);
        setTextCursor(cursor);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
        ensureCursorVisible();
        return true;
    }
    return false;
}

void MarkdownTextView::needWholeText()
{
    if (isReadOnly())
        Q_EMIT wholeTextNeeded();
}

bool MarkdownTextView::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::InputMethod:
        // A modifier alone edits nothing; any other key may.
        if (event->type() == QEvent::InputMethod
            || !QList{Qt::Key_Control, Qt::Key_Shift, Qt::Key_Alt, Qt::Key_Meta, Qt::Key_AltGr}
                    .contains(static_cast<QKeyEvent *>(event)->key()))
            needWholeText();
        break;
    default:
        break;
    }
    // Ctrl+K is the window's Link command; the editor would take it to cut to the line's end.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->keyCombination() == QKeyCombination(Qt::ControlModifier, Qt::Key_K)) {
            event->ignore();
            return true;
        }
    }
    return QPlainTextEdit::event(event);
}

bool MarkdownTextView::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::ContextMenu)
        needWholeText();
    return QPlainTextEdit::viewportEvent(event);
}

QString MarkdownTextView::rawText() const
{
    // toPlainText() would turn a no-break space into a space and a typed U+2028 into "\n". The
    // raw text keeps both; only the document's own paragraph breaks become "\n".
    if (!m_softBreaks.empty())
        return sourceText(0, document()->characterCount() - 1);
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void MarkdownTextView::addSoftBreak(qsizetype position, bool inserted)
{
    if (inserted) {
        QTextCursor at(document());
        at.setPosition(int(position));
        at.insertBlock();
    }
    SoftBreak separator{QTextCursor(document()), QTextCursor(document())};
    separator.before.setPosition(int(position));
    separator.after.setPosition(int(position) + 1);
    separator.after.setKeepPositionOnInsert(true);
    const auto at = std::lower_bound(m_softBreaks.begin(), m_softBreaks.end(), position);
    const auto index = at - m_softBreaks.begin();
    if (inserted) {
        for (auto later = at; later != m_softBreaks.end(); ++later)
            ++*later;
    }
    m_softBreaks.insert(at, position);
    m_softCursors.insert(m_softCursors.begin() + index, separator);
}

void MarkdownTextView::addSoftBreaks(const std::vector<qsizetype> &positions)
{
    if (positions.empty())
        return;
    // Inside an edit block a cursor put somewhere does not lay out its block to find its x,
    // which for every piece of a long text is the whole text laid out.
    QTextCursor batch(document());
    batch.beginEditBlock();
    for (const qsizetype at : positions)
        addSoftBreak(at, false);
    batch.endEditBlock();
}

void MarkdownTextView::clearSoftBreaks()
{
    m_softBreaks.clear();
    m_softCursors.clear();
}

void MarkdownTextView::followSoftBreaks()
{
    m_softBreaks.clear();
    const QTextDocument *doc = document();
    std::erase_if(m_softCursors, [&](const SoftBreak &soft) {
        return soft.after.position() - soft.before.position() != 1
            || doc->characterAt(soft.before.position()) != QChar::ParagraphSeparator;
    });
    m_softBreaks.reserve(m_softCursors.size());
    for (const SoftBreak &soft : m_softCursors)
        m_softBreaks.push_back(soft.before.position());
    if (!std::is_sorted(m_softBreaks.begin(), m_softBreaks.end())) {
        std::sort(m_softCursors.begin(), m_softCursors.end(), [](const SoftBreak &a, const SoftBreak &b) {
            return a.before.position() < b.before.position();
        });
        std::sort(m_softBreaks.begin(), m_softBreaks.end());
    }
}

bool MarkdownTextView::isSoftBreak(qsizetype position) const
{
    return std::binary_search(m_softBreaks.cbegin(), m_softBreaks.cend(), position);
}

qsizetype MarkdownTextView::withoutSoftBreaks(qsizetype position) const
{
    return position
        - (std::lower_bound(m_softBreaks.cbegin(), m_softBreaks.cend(), position)
           - m_softBreaks.cbegin());
}

qsizetype MarkdownTextView::withSoftBreaks(qsizetype position, bool afterBreak) const
{
    // The i-th soft break stands between the characters `softBreaks[i] - i` apart, a sequence
    // that never decreases.
    qsizetype low = 0;
    qsizetype high = qsizetype(m_softBreaks.size());
    while (low < high) {
        const qsizetype mid = (low + high) / 2;
        const qsizetype at = m_softBreaks[mid] - mid;
        if (at < position || (afterBreak && at == position))
            low = mid + 1;
        else
            high = mid;
    }
    return position + low;
}

QString MarkdownTextView::sourceText(qsizetype from, qsizetype to) const
{
    QTextCursor span(document());
    span.setPosition(int(from));
    span.setPosition(int(to), QTextCursor::KeepAnchor);
    const QString shown = span.selectedText();
    QString text;
    text.reserve(shown.size());
    auto soft = std::lower_bound(m_softBreaks.cbegin(), m_softBreaks.cend(), from);
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (soft != m_softBreaks.cend() && *soft == from + i) {
            ++soft;
            continue;
        }
        const QChar c = shown[i];
        text.append(c == QChar::ParagraphSeparator ? QChar(u'\n') : c);
    }
    return text;
}

QMimeData *MarkdownTextView::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    const auto soft = std::lower_bound(m_softBreaks.cbegin(), m_softBreaks.cend(),
                                       qsizetype(cursor.selectionStart()));
    if (soft == m_softBreaks.cend() || *soft >= cursor.selectionEnd())
        return QPlainTextEdit::createMimeDataFromSelection();
    // Copied or dragged away, the line is one line again.
    auto *data = new QMimeData;
    data->setText(sourceText(cursor.selectionStart(), cursor.selectionEnd()));
    return data;
}

bool MarkdownTextView::stepOverSoftBreak(QKeyEvent *event)
{
    if (m_softBreaks.empty() || isReadOnly())
        return false;
    const QTextCursor cursor = textCursor();
    if (cursor.hasSelection())
        return false;
    const qsizetype at = cursor.position();
    const QTextDocument *doc = document();
    const qsizetype end = doc->characterCount() - 1;
    QTextCursor edit(document());
    const bool plain = !(event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier));
    if (event->key() == Qt::Key_Backspace && plain && at >= 2 && isSoftBreak(at - 1)
        && doc->characterAt(int(at - 2)) != QChar::ParagraphSeparator) {
        edit.setPosition(int(at - 1));
        edit.deletePreviousChar();
    } else if (event->matches(QKeySequence::Delete) && isSoftBreak(at) && at + 1 < end
               && doc->characterAt(int(at + 1)) != QChar::ParagraphSeparator) {
        edit.setPosition(int(at + 1));
        edit.deleteChar();
    } else {
        return false;
    }
    ensureCursorVisible();
    return true;
}

void MarkdownTextView::wrapSelection(const QString &prefix, const QString &suffix)
{
    needWholeText();
    // A cursor edits a read-only editor all the same.
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    int start = cursor.selectionStart();
    int end = cursor.selectionEnd();
    // Spaces and line ends at the selection's edges stay outside the markers: a word selected
    // with the space after it would become "**word **", which is no emphasis and shows the
    // asterisks. A selection of nothing but spaces is wrapped as it is.
    const QTextDocument *doc = document();
    int from = start;
    int to = end;
    while (from < to && doc->characterAt(from).isSpace())
        ++from;
    while (to > from && doc->characterAt(to - 1).isSpace())
        --to;
    if (from < to) {
        start = from;
        end = to;
    }
    cursor.beginEditBlock();
    cursor.setPosition(end);
    cursor.insertText(suffix);
    cursor.setPosition(start);
    cursor.insertText(prefix);
    cursor.endEditBlock();
    // The wrapped text stays selected, so a second wrap nests.
    cursor.setPosition(start + prefix.size());
    cursor.setPosition(end + prefix.size(), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void MarkdownTextView::formatLines(BlockFormat format)
{
    needWholeText();
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    QTextBlock first = document()->findBlock(cursor.selectionStart());
    QTextBlock last = document()->findBlock(cursor.selectionEnd());
    // A selection that ends at the start of a line leaves that line out, as it looks.
    if (last != first && cursor.selectionEnd() == last.position() && !isSoftBreak(last.position() - 1))
        last = last.previous();
    // A line shown in pieces is one line.
    while (first.position() > 0 && isSoftBreak(first.position() - 1))
        first = first.previous();
    while (isSoftBreak(last.position() + last.length() - 1))
        last = last.next();
    QStringList lines;
    QList<qsizetype> starts;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        if (b != first && isSoftBreak(b.position() - 1)) {
            lines.last().append(b.text());
        } else {
            lines.append(b.text());
            starts.append(withoutSoftBreaks(b.position()));
        }
        if (b == last)
            break;
    }
    const QList<LineEdit> edits = blockFormatEdits(lines, format);
    if (edits.isEmpty())
        return;
    QList<std::pair<int, int>> spans;
    for (const LineEdit &e : edits) {
        const qsizetype at = starts.at(e.line) + e.column;
        spans.append({int(withSoftBreaks(at, true)), int(withSoftBreaks(at + e.length))});
    }
    QTextCursor edit(document());
    edit.beginEditBlock();
    // From the last line up, so that earlier edits do not move later ones.
    for (qsizetype i = edits.size() - 1; i >= 0; --i) {
        edit.setPosition(spans.at(i).first);
        edit.setPosition(std::max(spans.at(i).first, spans.at(i).second), QTextCursor::KeepAnchor);
        edit.insertText(edits.at(i).inserted);
    }
    edit.endEditBlock();
}

bool MarkdownTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return !imageIn(source).isNull() || QPlainTextEdit::canInsertFromMimeData(source);
}

void MarkdownTextView::insertFromMimeData(const QMimeData *source)
{
    needWholeText();
    if (isReadOnly())
        return;
    // Text wins over a picture of it: programs that copy a table or a web page's text often put
    // an image of it on the clipboard too. An image file copied in a file manager comes as its
    // address, which is no text to paste.
    const bool textWins = source->hasImage() && source->hasText() && !source->text().isEmpty();
    const QImage image = textWins ? QImage() : imageIn(source);
    if (image.isNull()) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    // A store that fails has said why (the saver alerts); nothing is pasted in its place.
    if (!m_saveImage)
        return;
    if (const auto path = m_saveImage(image))
        insertPlainText(imageLink(*path));
}

QString MarkdownTextView::imageLink(const QString &path)
{
    // The file's name as the image's text: what a screen reader says, and what the reading
    // view shows where the image cannot load.
    QString name = path.section(u'/', -1);
    name.replace(u'[', u'(').replace(u']', u')');
    return u"!["_s + name + u"]("_s + path + u')';
}

QMenu *MarkdownTextView::createEditMenu(int at)
{
    auto *menu = new QMenu(this);
    const bool selected = textCursor().hasSelection();
    menu->addAction(tr("&Undo"), QKeySequence::Undo, this, &MarkdownTextView::undoRequested)
        ->setEnabled(!isReadOnly() && m_canUndo);
    menu->addAction(tr("&Redo"), QKeySequence::Redo, this, &MarkdownTextView::redoRequested)
        ->setEnabled(!isReadOnly() && m_canRedo);
    menu->addSeparator();
    auto *cut = menu->addAction(tr("Cu&t"), QKeySequence::Cut, this, &QPlainTextEdit::cut);
    cut->setEnabled(selected && !isReadOnly());
    auto *copy = menu->addAction(tr("&Copy"), QKeySequence::Copy, this, &QPlainTextEdit::copy);
    copy->setEnabled(selected);
    auto *paste = menu->addAction(tr("&Paste"), QKeySequence::Paste, this, &QPlainTextEdit::paste);
    paste->setEnabled(canPaste());
    menu->addSeparator();
    menu->addAction(tr("Select &All"), QKeySequence::SelectAll, this, &QPlainTextEdit::selectAll);
    if (selected && !isReadOnly()) {
        menu->addSeparator();
        menu->addAction(tr("Add &Link\u2026"), QKeySequence(Qt::CTRL | Qt::Key_K), this,
                        &MarkdownTextView::linkRequested);
    }
    // A misspelt word under the pointer: its guesses first, the best at the top, so that Down,
    // Return takes it; then ignoring and learning it.
    SpellChecker *checker = at >= 0 ? spellChecker() : nullptr;
    const QTextCursor word = checker ? misspeltAt(at) : QTextCursor();
    if (!word.isNull() && !isReadOnly()) {
        const QString text = word.selectedText();
        QList<QAction *> spelling;
        for (const QString &guess : checker->guesses(text)) {
            auto *take = new QAction(guess, menu);
            QFont bold = take->font();
            bold.setBold(true);
            take->setFont(bold);
            connect(take, &QAction::triggered, this, [this, word, guess] {
                // One edit, of exactly that word: the document's history takes it back whole.
                QTextCursor replace = word;
                replace.insertText(guess);
                setTextCursor(replace);
            });
            spelling.append(take);
        }
        if (spelling.isEmpty()) {
            auto *none = new QAction(tr("No Guesses Found"), menu);
            none->setEnabled(false);
            spelling.append(none);
        }
        auto *ignore = new QAction(tr("Ignore Spelling"), menu);
        connect(ignore, &QAction::triggered, this, [this, checker, text] {
            checker->ignore(text);
            checkSpelling();
        });
        auto *learn = new QAction(tr("Add to Dictionary"), menu);
        connect(learn, &QAction::triggered, this, [this, checker, text] {
            if (const auto added = checker->addToDictionary(text); !added) {
                QMessageBox::warning(this, tr("Quorvel"),
                                     tr("\u201C%1\u201D could not be added to your dictionary: %2")
                                         .arg(text, added.error()));
                return;
            }
            checkSpelling();
        });
        QAction *first = menu->actions().value(0);
        auto *separator = new QAction(menu);
        separator->setSeparator(true);
        menu->insertActions(first, spelling);
        menu->insertActions(first, {separator, ignore, learn});
        auto *after = new QAction(menu);
        after->setSeparator(true);
        menu->insertAction(first, after);
        menu->setActiveAction(spelling.first());
    }
    return menu;
}

void MarkdownTextView::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = createEditMenu(cursorForPosition(event->pos()).position());
    // A menu is a window of its own: the window's colours do not reach it by themselves.
    menu->setPalette(window()->palette());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void MarkdownTextView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
        if (!isReadOnly())
            Q_EMIT(event->matches(QKeySequence::Undo) ? undoRequested() : redoRequested());
        return;
    }
    // Shift+Return would put a U+2028 into the file, which other programs do not show as a
    // line break; in a Markdown source it is meant as a new line.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && event->modifiers() == Qt::ShiftModifier && !isReadOnly()) {
        textCursor().insertBlock();
        ensureCursorVisible();
        return;
    }
    if (stepOverSoftBreak(event))
        return;
    QPlainTextEdit::keyPressEvent(event);
}

void MarkdownTextView::inputMethodEvent(QInputMethodEvent *event)
{
    QPlainTextEdit::inputMethodEvent(event);
    const bool composing = !event->preeditString().isEmpty();
    if (std::exchange(m_composing, composing) && !composing)
        Q_EMIT compositionEnded();
}

} // namespace quorvel::editor
