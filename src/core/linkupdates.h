#pragma once

#include "diskfile.h"
#include "result.h"
#include "textedit.h"
#include "textencoding.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace quorvel::core {

class DocumentFile;

// The other notes of a vault whose links lead to a note about to be renamed or moved, and what
// those links become. Only the target text of each link changes; every other byte of a note
// stays as it was, its encoding and line breaks too.
class LinkUpdates
{
public:
    // The open document of a note, whose window holds its text; null for a note no window holds.
    using OpenDocument = std::function<DocumentFile *(const QString &path)>;

    // Finds the notes that link to `from` and works out their new text, writing nothing. Empty
    // when `from` is in no vault or `to` leaves its vault. A failure names the note whose link
    // could not lead to `to`, and nothing may then be changed.
    static Result<LinkUpdates> plan(const QString &from, const QString &to,
                                    const OpenDocument &openDocument);

    bool isEmpty() const { return m_notes.isEmpty(); }
    QStringList notes() const;
    // Changes the links: an open note through its window's text, then saved; any other note
    // written like a save, and only over the version that was read. What went wrong, note by
    // note; empty when every note was updated.
    QStringList apply();

private:
    struct Note
    {
        QString path;
        DocumentFile *open = nullptr;
        QString before;
        QList<TextEdit> edits; // last first, so that each edit's offsets still hold
        QByteArray after;
        DiskAttributes seen;
    };
    QList<Note> m_notes;
};

} // namespace quorvel::core
