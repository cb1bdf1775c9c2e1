#pragma once

#include "result.h"
#include "textedit.h"
#include "textencoding.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace quorvel::core {

// The one copy of a document's text, the encoding it is saved in, and the history of its
// changes. Every view edits it through apply() and hears every edit through edited(), so the
// text never has to be compared to find out what changed or whose change it was. Nothing is
// normalised: line endings, a byte-order mark and every other character stay as read.
class DocumentText : public QObject
{
    Q_OBJECT

public:
    using Origin = EditOrigin;

    explicit DocumentText(const QString &text = QString(), TextEncoding encoding = {},
                          QObject *parent = nullptr);

    // Reads a file in the encoding its bytes have (TextEncoding::decode). A folder or anything
    // but a regular file fails with the corrupt-file error, a file that is not text (a program,
    // an image) with its own message, an unreadable file with the reason.
    static Result<std::unique_ptr<DocumentText>> open(const QString &path);

    const QString &text() const { return m_text; }
    qsizetype size() const { return m_text.size(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    // Counts the edits made; every view names the text it holds by it.
    quint64 revision() const { return m_revision; }

    // Makes the edit and tells everyone. False, and nothing happens, for an edit that changes
    // nothing or does not fit the text (an edit from the page is input like any other).
    bool apply(const TextEdit &edit, Origin origin);
    // Several edits of the text as it is now, in order and apart from each other, made as one
    // step that one undo takes back (a Replace All). Made from the last to the first, so that
    // each is told against the text it was made to; false, and nothing happens, when one of
    // them does not fit or they overlap.
    bool applyAll(const QList<TextEdit> &edits, Origin origin);
    // A whole new text, made into the one edit that covers what differs.
    bool replaceAll(const QString &text, Origin origin);

    // What changed since `revision`, as one span; nothing when that revision is too old to know.
    std::optional<TextEdit> changeSince(quint64 revision) const;
    // Moves an edit made from `revision` over every edit made since; nothing when one of them
    // touches the same characters or the revision is too old.
    std::optional<TextEdit> rebase(const TextEdit &edit, quint64 revision) const;
    // Whether any edit since `revision` came from `origin`.
    bool editedSinceBy(quint64 revision, Origin origin) const;

    TextEncoding encoding() const { return m_encoding; }
    void setEncoding(TextEncoding encoding);

    // What a save writes: the text in its encoding; nothing when the encoding cannot hold one of
    // its characters, for the caller to ask before converting the file.
    std::optional<QByteArray> fileData() const;

    // Undo and redo, shared by every view. A run of typing is one step, as long as it goes on
    // where it left off, from the same view, without a pause of more than kTypingPause.
    static constexpr qint64 kTypingPause = 2000;
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // Takes the last step back; where the caret belongs afterwards, nothing when there was none.
    std::optional<qsizetype> undo();
    std::optional<qsizetype> redo();
    // The next edit starts a step of its own (the caret moved, a command ran).
    void closeUndoStep() { m_stepOpen = false; }

Q_SIGNALS:
    void edited(const quorvel::core::TextEdit &edit, quorvel::core::EditOrigin origin);
    void encodingChanged(quorvel::core::TextEncoding encoding);
    void historyChanged();

private:
    // An edit as history needs it: what it took away, so it can be put back.
    struct Change
    {
        qsizetype start = 0;
        QString removed;
        QString inserted;
    };
    struct Step
    {
        std::vector<Change> changes;
        Origin origin = Origin::Program;
        qsizetype size = 0; // characters held, for the bound on history's memory
    };
    // What the last edits did, for views that hold an older revision.
    struct Logged
    {
        quint64 revision = 0; // after the edit
        qsizetype start = 0;
        qsizetype removed = 0;
        qsizetype inserted = 0;
        qsizetype sizeAfter = 0;
        Origin origin = Origin::Program;
    };

    void record(const Change &change, Origin origin);
    void recordStep(Step step);
    bool mergesWithLast(const Change &change, Origin origin) const;
    void trimHistory();
    std::optional<qsizetype> replay(std::vector<Step> &from, std::vector<Step> &to, bool backwards);
    bool applyEdit(const TextEdit &edit, Origin origin, Change *change);

    QString m_text;
    TextEncoding m_encoding;
    quint64 m_revision = 0;
    std::deque<Logged> m_log;
    std::vector<Step> m_undo;
    std::vector<Step> m_redo;
    bool m_stepOpen = false;
    QElapsedTimer m_lastEdit;
    qsizetype m_historySize = 0;
    bool m_replaying = false;
};

} // namespace quorvel::core
