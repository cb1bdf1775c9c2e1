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

bool MarkdownTextView::event(QEvent *event)
{
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

QString MarkdownTextView::rawText() const
{
    // toPlainText() would turn a no-break space into a space and a typed U+2028 into "\n". The
    // raw text keeps both; only the document's own paragraph breaks become "\n".
    QString text = document()->toRawText();
    text.replace(QChar::ParagraphSeparator, u'\n');
    return text;
}

void MarkdownTextView::wrapSelection(const QString &prefix, const QString &suffix)
{
    // A cursor edits a read-only editor all the same.
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
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
    if (isReadOnly())
        return;
    QTextCursor cursor = textCursor();
    QTextBlock first = document()->findBlock(cursor.selectionStart());
    QTextBlock last = document()->findBlock(cursor.selectionEnd());
    // A selection that ends at the start of a line leaves that line out, as it looks.
    if (last != first && cursor.selectionEnd() == last.position())
        last = last.previous();
    QStringList lines;
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        lines.append(b.text());
        if (b == last)
            break;
    }
    const QList<LineEdit> edits = blockFormatEdits(lines, format);
    if (edits.isEmpty())
        return;
    QTextCursor edit(document());
    edit.beginEditBlock();
    // From the last line up, so that earlier edits do not move later ones.
    for (auto it = edits.crbegin(); it != edits.crend(); ++it) {
        const int at = document()->findBlockByNumber(first.blockNumber() + it->line).position()
            + it->column;
        edit.setPosition(at);
        edit.setPosition(at + it->length, QTextCursor::KeepAnchor);
        edit.insertText(it->inserted);
    }
    edit.endEditBlock();
}

bool MarkdownTextView::canInsertFromMimeData(const QMimeData *source) const
{
    return !imageIn(source).isNull() || QPlainTextEdit::canInsertFromMimeData(source);
}

void MarkdownTextView::insertFromMimeData(const QMimeData *source)
{
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
