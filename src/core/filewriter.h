#pragma once

#include "diskfile.h"
#include "result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace quorvel::core {

// Writes a document's bytes so that a failure never leaves a truncated file behind, and says
// what the system said when it fails ("No space left on device"). QSaveFile was not enough: on
// Qt 6.4 a write that fails in its final flush (a full disk, a file size limit) still commits,
// leaving the file empty or cut short, and its error string is "Unknown error".
//
// An ordinary file is replaced atomically by a hidden copy written and flushed beside it, which
// keeps its permissions. A file with more than one hard link is overwritten in place, so that
// every name keeps showing the same text: the new bytes are first written and flushed to a copy
// beside it, space is reserved, and a failed write puts the old bytes back. A symbolic link
// stays a link; its target is written. A copy left by a save that was killed half way is removed
// by the next save of the file.
class FileWriter
{
public:
    static Result<void> write(const QString &path, const QByteArray &data);
    // As write(), but only over the file `lastSeen` describes: when another program wrote,
    // replaced or removed it since, nothing is written and the value is false. The file is
    // swapped with the copy (where the file system can) and swapped back when what it displaced
    // is not that file, so that a write landing while the copy is flushed is not lost either.
    static Result<bool> writeOver(const QString &path, const QByteArray &data,
                                  const DiskAttributes &lastSeen);
    // Why `path` may not take what is made from `source` (an export of it), known before
    // anything is made; none when it may. Writing over the source would lose it (also through a
    // link or a second hard link); a FIFO, a device or a socket is no file to keep anything in,
    // and writing to one could block or feed another program.
    static std::optional<QString> refusal(const QString &path, const QString &source);
    // Gives the file at `from` the path `to` (a rename, or a move to another folder), never
    // replacing anything already at `to`. Across file systems the bytes are written at `to` as a
    // save writes them, then the original is removed. The reason, for the user, when it fails;
    // the file is then where it was.
    static Result<void> move(const QString &from, const QString &to);
};

} // namespace quorvel::core
