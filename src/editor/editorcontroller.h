#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QTimer;

namespace quorvel::core {
class DocumentModel;
}

namespace quorvel::editor {

class MarkdownTextView;

// Keeps the source editor and the model's text in step. The user's typing always wins: the
// editor's text is replaced only by a change from outside (a reload, the page), never while an
// input method composes, and a change that is merely the editor's own text coming back is
// ignored.
class EditorController : public QObject
{
    Q_OBJECT

public:
    EditorController(core::DocumentModel &model, MarkdownTextView &view,
                     QObject *parent = nullptr);

    // The model's text changed; `text` is the new text.
    void modelTextChanged(const QString &text);
    // A text at least this long is put into the editor from the event loop when the
    // controller starts, a slice at a time unless held back (pauseFilling) and then finished
    // in one go, so that a window's page gets its text and draws first; the editor is
    // read-only until the last slice is in.
    static constexpr qsizetype kFillInSlicesFrom = 512 * 1024;
    static constexpr qsizetype kSliceCharacters = 64 * 1024;

    // Shows `text`, keeping nothing of what was shown. `inSlices`: a long text may be filled in
    // from the event loop.
    void showText(const QString &text, bool inSlices = false);
    // Whether the editor shows the whole text (false while a long text is being filled in).
    bool isFilled() const { return !m_filling; }
    // Holds the filling in of a long text back (while the page loads, which needs this thread),
    // and lets it go on.
    void pauseFilling();
    void resumeFilling();
    // Puts the rest of a long text in at once, for an editor the user is about to work in.
    void finishFilling();
    // How far down the editor is scrolled, 0 to 1.
    double scrollFraction() const;
    // Shows that fraction of the text without telling the model, which asked for it.
    void scrollToFraction(double fraction);

private:
    // An earlier model text, as the change that turns the next newer one back into it: in
    // place of `length` characters at `start`, `removed`. A step that is no text of this
    // editor's (the model changing only in its line breaks) only links the ones around it.
    struct Before
    {
        qsizetype start = 0;
        qsizetype length = 0;
        QString removed;
        bool sent = true;
    };

    void contentsChanged(int position, int removed, int added);
    void reportScroll();
    void fillSlices(bool all);
    void stopFilling();
    void sendToModel(qsizetype start, qsizetype end, const QString &inserted);
    void remember(Before before);
    void setModelText(const QString &text);
    void apply(const QString &text, bool external);
    bool isStale(const QString &text) const;
    void replaceKeepingPlace(const QString &text);
    void applyPending();

    core::DocumentModel &m_model;
    MarkdownTextView &m_view;
    // The editor's text as the model last had it; the base of the next edit's merge.
    QString m_shownText;
    // The model's text that m_shownText stands for.
    QString m_modelText;
    // Whether it has a "\r", whose offsets differ from the editor's.
    bool m_modelTextHasCarriageReturn = false;
    int m_seenExternalVersion = 0;
    bool m_showingText = false;
    bool m_sending = false;
    // A change that came while an input method composed, shown when it ends.
    bool m_pending = false;
    bool m_pendingExternal = false;
    // The editor's last few texts before the current one, newest first: a model update
    // bringing one of them back is an old echo, not news. Kept as changes, not copies of a
    // large note.
    QList<Before> m_recent;
    bool m_followingPage = false;
    int m_reportedScroll = -1;
    // How much of m_shownText the editor has while it is filled in slices.
    bool m_filling = false;
    bool m_fillPaused = false;
    qsizetype m_filled = 0;
    QTimer *m_fillTimer = nullptr;
};

// The model's text as the editor shows it: every line break but a U+2028 as "\n".
QString editorForm(QStringView text);

} // namespace quorvel::editor
