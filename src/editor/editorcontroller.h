#pragma once

#include <QList>
#include <QObject>
#include <QString>

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
    // Shows `text`, keeping nothing of what was shown.
    void showText(const QString &text);
    // How far down the editor is scrolled, 0 to 1.
    double scrollFraction() const;
    // Shows that fraction of the text without telling the model, which asked for it.
    void scrollToFraction(double fraction);

private:
    void contentsChanged(int position, int removed, int added);
    void sendToModel(qsizetype start, qsizetype end, const QString &inserted);
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
    int m_seenExternalVersion = 0;
    bool m_showingText = false;
    bool m_sending = false;
    // A change that came while an input method composed, shown when it ends.
    bool m_pending = false;
    bool m_pendingExternal = false;
    // The editor's last few texts before the current one: a model update bringing one of them
    // back is an old echo, not news.
    QList<QString> m_recent;
    bool m_followingPage = false;
};

// The model's text as the editor shows it: every line break but a U+2028 as "\n".
QString editorForm(QStringView text);

} // namespace quorvel::editor
