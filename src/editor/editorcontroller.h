#pragma once

#include "core/textedit.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

class QTimer;

namespace quorvel::core {
class DocumentModel;
class DocumentText;
}

namespace quorvel::editor {

class MarkdownTextView;

// The source view of a document's text. What the user types goes to the text as an edit at the
// place it was made; every other view's edit comes back the same way and is made in the widget
// where it belongs, so the caret, the selection and the scroll position stay. The widget's own
// undo is off: Ctrl+Z takes back the document's last change, whichever view made it.
class EditorController : public QObject
{
    Q_OBJECT

public:
    EditorController(core::DocumentModel &model, MarkdownTextView &view,
                     QObject *parent = nullptr);

    // A text at least this long is put into the editor from the event loop when the
    // controller starts, a slice at a time unless held back (pauseFilling) and then finished
    // in one go, so that a window's page gets its text and draws first; the editor is
    // read-only until the last slice is in.
    static constexpr qsizetype kFillInSlicesFrom = 512 * 1024;
    static constexpr qsizetype kSliceCharacters = 64 * 1024;
    // A line longer than this is shown in pieces of about kPieceCharacters, cut after a space,
    // and a piece that grows past it is cut again (see MarkdownTextView::softBreaks).
    static constexpr qsizetype kMaxPieceCharacters = 4000;
    static constexpr qsizetype kPieceCharacters = 2000;

    // Whether the editor shows the whole text (false while a long text is being filled in).
    bool isFilled() const { return !m_filling; }
    // Holds the filling in of a long text back (while the page loads, which needs this thread,
    // or until the editor is first shown), and lets it go on.
    void pauseFilling();
    void resumeFilling();
    // Puts the rest of a long text in at once, for an editor the user is about to work in.
    void finishFilling();
    // How far down the editor is scrolled, 0 to 1.
    double scrollFraction() const;
    // Shows that fraction of the text without telling the model, which asked for it.
    void scrollToFraction(double fraction);

    // The selection as offsets into the document's text, start first; equal when there is
    // none (or while a long text is still being filled in).
    std::pair<qsizetype, qsizetype> selectedSpan() const;

    // The document's undo and redo, with the caret put where the change was.
    void undo();
    void redo();

    // The caret as an offset of the text; nothing while a long text is still being filled in.
    std::optional<qsizetype> caretOffset() const;
    // Puts the caret at an offset of the text and brings it into view.
    void placeCaret(qsizetype offset);

private:
    void showText(bool inSlices);
    void contentsChanged(int position, int removed, int added);
    void textEdited(const core::TextEdit &edit, core::EditOrigin origin);
    void applyToWidget(const core::TextEdit &edit);
    void reportScroll();
    void fillSlices(bool all);
    void stopFilling();
    void checkLineBreaks();
    // Cuts the pieces that have grown too long and drops the soft breaks an edit left next to
    // an empty piece, in the blocks an edit touched.
    void fixPieces();
    void piecesTouched(qsizetype from, qsizetype to);
    // The widget shows "\r\n" as one character, and soft breaks that the text does not have.
    // A "form position" is a widget position less the soft breaks before it; these map between
    // form positions and the text's offsets (the same numbers unless the text has a "\r\n").
    qsizetype textOffset(qsizetype formPosition, qsizetype from = 0, qsizetype at = 0) const;
    qsizetype widgetPosition(qsizetype offset) const;
    qsizetype widgetLength() const;

    core::DocumentModel &m_model;
    core::DocumentText &m_text;
    MarkdownTextView &m_view;
    // The widget's length as of the last edit it took part in.
    qsizetype m_shownLength = 0;
    bool m_showingText = false;
    // Whether the text has a "\r\n", so that positions and offsets differ.
    bool m_hasCrLf = false;
    bool m_followingPage = false;
    int m_reportedScroll = -1;
    // The editor's text while it is filled in slices, and how much of it is in.
    QString m_fillingText;
    bool m_filling = false;
    bool m_fillPaused = false;
    // A held-back fill keeps no copy of the text; it takes the text as it is when it goes on.
    bool m_fillStale = false;
    qsizetype m_filled = 0;
    // The soft breaks of the text being filled in.
    std::vector<qsizetype> m_fillingBreaks;
    // The widget span, from and to, whose pieces fixPieces has yet to look at.
    std::optional<std::pair<qsizetype, qsizetype>> m_touched;
    QTimer *m_fillTimer = nullptr;
};

// The text as the editor shows it: every line break but a U+2028 as "\n".
QString editorForm(QStringView text);
// Where a line longer than the editor lays out at every key is cut into pieces: the offsets in
// it where a piece starts, after a space near every `piece` characters where there is one (one
// before a word rather than a mark), and never inside a surrogate pair.
QList<qsizetype> pieceCuts(QStringView line, qsizetype longest, qsizetype piece);

} // namespace quorvel::editor
