#include "filereader.h"

#include "descriptor.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::core {

namespace {

QString systemMessage()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Result<QByteArray> FileReader::read(const QString &path, qint64 limit)
{
    // O_NONBLOCK: opening a FIFO with no writer would otherwise wait for one. The type is then
    // taken from the descriptor, so that nothing can be swapped in between a look and the open.
    Descriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0)
        return Result<QByteArray>::failure(systemMessage());
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0)
        return Result<QByteArray>::failure(systemMessage());
    if (!S_ISREG(info.st_mode))
        return Result<QByteArray>::failure(QStringLiteral("not a regular file"));
    if (info.st_size > limit)
        return Result<QByteArray>::failure(
            QStringLiteral("larger than %1 MB").arg(limit / (1024 * 1024)));
    // A file that grows while it is read is cut at the limit, never read on without end.
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done >= limit)
                break;
            bytes.resize(qsizetype(std::min<qint64>(limit, qint64(done) + 65536)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Result<QByteArray>::failure(
                systemMessage());
        if (n == 0)
            break;
        done += n;
    }
    bytes.truncate(done);
    return bytes;
}

bool FileReader::isInside(const QString &path, const QStringList &folders)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    if (real.isEmpty())
        return false;
    for (const QString &folder : folders) {
        const QString root = QFileInfo(folder).canonicalFilePath();
        if (root.isEmpty())
            continue;
        if (real.startsWith(root == u'/' ? root : root + u'/'))
            return true;
    }
    return false;
}

std::optional<FileReader::Image> FileReader::embeddableImage(const QString &path,
                                                             const QStringList &folders)
{
    if (!isInside(path, folders))
        return std::nullopt;
    Result<QByteArray> bytes = read(path, kImageLimit);
    if (!bytes)
        return std::nullopt;
    QBuffer buffer(&bytes.value());
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Only the header is looked at; a named format would be believed from the name alone.
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format.isEmpty() || !reader.canRead())
        return std::nullopt;
    const QByteArray subtype = format == "svg" ? QByteArrayLiteral("svg+xml")
        : format == "jpg"                      ? QByteArrayLiteral("jpeg")
                                               : format;
    return Image{std::move(bytes).value(), "image/" + subtype};
}

} // namespace quorvel::core
