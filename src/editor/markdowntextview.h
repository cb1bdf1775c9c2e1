#pragma once

#include "blockformat.h"

#include <QPlainTextEdit>

#include <functional>
#include <optional>
#include <vector>

namespace quorvel::editor {

// The source editor's widget: the Markdown text as typed, in a centred readable column.
class MarkdownHighlighter;
class SpellChecker;

class MarkdownTextView : public QPlainTextEdit
{
    Q_OBJECT

public:
    using ImageSaver = std::function<std::optional<QString>(const QImage &)>;

    explicit MarkdownTextView(QWidget *parent = nullptr);

    // Where a pasted image goes; returns the link target, or nothing when it could not be stored.
    void setImageSaver(ImageSaver saver) { m_saveImage = std::move(saver); }
    void setEditorFontSize(double points);
    // The widest the text column gets, in pixels; the rest of a wide window is margin.
    void setMaxTextWidth(int pixels);

    // While a long text is still going in (the editor is read-only meanwhile), whatever is about
    // to edit it, or to use its positions, asks for the rest first; a keystroke is never
    // dropped for a text that is on its way.
    void needWholeText();

    // The text exactly as shown: every character as typed, a line break as "\n", a very long
    // line whole (without the breaks between its pieces).
    QString rawText() const;
    // Puts the first heading of that level and text at the top of the view, the caret on it.
    // The text is the heading as the outline shows it, so its Markdown marks are looked past.
    bool scrollToHeading(int level, const QString &text);
    // Puts prefix and suffix around the selection (or the caret) as one undo step.
    void wrapSelection(const QString &prefix, const QString &suffix);
    // Gives every line the selection touches (or the caret's line) the block format, at the
    // line's start, as one undo step.
    void formatLines(BlockFormat format);

    // Colours the Markdown marks while the text is small enough to colour at every keystroke.
    void updateHighlighting(qsizetype characters);
    bool isHighlighting() const;

    bool isComposing() const { return m_composing; }
    // What the document's history can take back or bring again, for the menu's Undo and Redo.
    void setHistoryAvailable(bool undo, bool redo)
    {
        m_canUndo = undo;
        m_canRedo = redo;
    }
    // The context menu; with the position of a misspelt word, its guesses come first.
    QMenu *createEditMenu(int at = -1);
    // What a pasted image stored at `path` is written as.
    static QString imageLink(const QString &path);

    // A very long line is shown as several blocks ("pieces"): Qt lays a block out whole at
    // every change, which on a line of a megabyte takes longer than a frame. The breaks between
    // pieces are not in the text; these are the positions of those separators, in order.
    const std::vector<qsizetype> &softBreaks() const { return m_softBreaks; }
    // Shows a soft break at `position`: a separator inserted there, or already there when
    // `inserted` is false. The caller ignores the change it makes.
    void addSoftBreak(qsizetype position, bool inserted);
    // Soft breaks at separators the shown text already has, in order.
    void addSoftBreaks(const std::vector<qsizetype> &positions);
    void clearSoftBreaks();
    // Brings the positions up to date after an edit, leaving out the separators it removed.
    void followSoftBreaks();
    bool isSoftBreak(qsizetype position) const;
    // A position in the shown text less the soft breaks before it, and back. A position at a
    // soft break is put at the end of the piece before it, or with `afterBreak` at the start
    // of the next.
    qsizetype withoutSoftBreaks(qsizetype position) const;
    qsizetype withSoftBreaks(qsizetype position, bool afterBreak = false) const;
    // The shown text between two positions as the document has it: separators as "\n", the
    // soft breaks left out.
    QString sourceText(qsizetype from, qsizetype to) const;

    // Marks misspelt words with the wavy underline, in the lines on screen only and a moment
    // after the typing or scrolling stops, never on a keystroke's way. Null turns it off.
    void setSpellChecker(SpellChecker *checker);
    // The same, with the checker asked for only when the first check runs: loading a dictionary
    // takes tens of milliseconds, which the window's first screen should not wait for.
    void setSpellCheckerSource(std::function<SpellChecker *()> source);
    SpellChecker *spellChecker() const;
    // Checks the lines on screen now (the timer's work).
    void checkSpelling();
    const QList<QTextEdit::ExtraSelection> &spellingMarks() const { return m_spellingMarks; }
    // The find bar's highlights; they and the spelling marks are shown together.
    void setFindSelections(const QList<QTextEdit::ExtraSelection> &selections);

Q_SIGNALS:
    void compositionEnded();
    // Sent from needWholeText; whoever fills the editor puts the rest in before returning.
    void wholeTextNeeded();
    // Undo and redo belong to the document, not to this widget: it asks for them.
    void undoRequested();
    void redoRequested();
    // The context menu's Add Link… for the selection, which the window asks an address for.
    void linkRequested();

protected:
    bool canInsertFromMimeData(const QMimeData *source) const override;
    QMimeData *createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData *source) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateMargins();

    ImageSaver m_saveImage;
    MarkdownHighlighter *m_highlighter = nullptr;
    int m_maxTextWidth = 760;
    bool m_canUndo = false;
    bool m_canRedo = false;
    bool m_composing = false;
    std::function<SpellChecker *()> m_spellingSource;
    QTimer *m_spellingTimer = nullptr;
    QList<QTextEdit::ExtraSelection> m_spellingMarks;
    QList<QTextEdit::ExtraSelection> m_findSelections;
    // Each soft break as two cursors, before and after its separator, which the document moves
    // with every edit; and their positions as of the last look. Text typed at the end of the
    // piece before moves the first, text at the start of the next leaves the second; once an
    // edit has taken the separator away they are never one apart again, whatever comes after
    // in the same edit.
    struct SoftBreak
    {
        QTextCursor before;
        QTextCursor after;
    };
    std::vector<SoftBreak> m_softCursors;
    std::vector<qsizetype> m_softBreaks;
    // Backspace at the start of a piece and Delete at its end act on the real neighbouring
    // character, not on the break the user does not see as one.
    bool stepOverSoftBreak(QKeyEvent *event);
    // The misspelt word at `position`, as a cursor selecting it; null when there is none.
    QTextCursor misspeltAt(int position) const;
};

} // namespace quorvel::editor
