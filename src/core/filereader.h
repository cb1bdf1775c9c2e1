#pragma once

#include "result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace quorvel::core {

// Reads the files a document or a command line names, which are untrusted: only a regular file
// is read, and only up to a limit. A FIFO would block the reader until another program writes
// to it, a device such as /dev/zero never ends, and a huge file runs the web engine out of
// memory; each is refused before a byte is read.
class FileReader
{
public:
    struct Image
    {
        QByteArray bytes;
        QByteArray mimeType; // as its content says ("image/png")
    };

    // Largest image a page or an export takes.
    static constexpr qint64 kImageLimit = 20 * 1024 * 1024;
    // Largest document a window opens or reads back from disk.
    static constexpr qint64 kDocumentLimit = 512 * 1024 * 1024;

    // The whole regular file at `path` (links followed), when it holds at most `limit` bytes;
    // otherwise why not, without the path ("not a regular file", "No such file or directory").
    static Result<QByteArray> read(const QString &path, qint64 limit);

    // Whether `path`, with every link followed, lies inside one of `folders` (also followed).
    static bool isInside(const QString &path, const QStringList &folders);

    // The bytes of an image a document names, fit to be copied into an export: a regular file
    // inside one of `folders`, at most kImageLimit bytes, that decodes as an image by its
    // content, whatever its name says. None for anything else.
    static std::optional<Image> embeddableImage(const QString &path, const QStringList &folders);
};

} // namespace quorvel::core
