#include "filewriter.h"

#include "descriptor.h"
#include "filereader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::core {

namespace {

QString systemMessage(int error)
{
    return QString::fromLocal8Bit(std::strerror(error)) + u'.';
}

// errno of the first failing call, 0 when every byte went out.
int writeAll(int fd, const QByteArray &data, off_t offset)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + done, size_t(data.size() - done),
                                   offset + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += n;
    }
    return 0;
}

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// The file a write lands in: symbolic links followed, so that the link stays a link.
QString writtenPath(const QString &path)
{
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink() && hops < 40; ++hops)
        info.setFile(info.symLinkTarget());
    return info.absoluteFilePath();
}

// The copies a save writes are named ".<name>.<random>~" and locked (flock) by their writer from
// creation until they are renamed into place or removed. A copy nobody holds was left by a writer
// that died half way (a kill, a power cut: nothing runs to remove it then), and the next save of
// the file removes it. A lock, not an age, tells them apart: another process's save in progress
// is never taken for a leftover, however slow its disk.
QString copyPrefix(const QFileInfo &target)
{
    return QStringLiteral(".") + target.fileName().left(64) + u'.';
}

bool isCopyName(const QString &name, const QString &prefix)
{
    if (!name.startsWith(prefix) || !name.endsWith(u'~'))
        return false;
    const QStringView middle = QStringView(name).sliced(prefix.size()).chopped(1);
    return !middle.isEmpty() && middle.size() <= 7
        && std::all_of(middle.begin(), middle.end(), [](QChar c) {
               return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z');
           });
}

void removeAbandonedCopies(const QString &target)
{
    // Copies are only abandoned when a process dies, so once per file and process is enough.
    static QMutex lock;
    static QSet<QString> swept;
    {
        const QMutexLocker locker(&lock);
        if (swept.contains(target))
            return;
        swept.insert(target);
    }
    const QFileInfo info(target);
    const QString prefix = copyPrefix(info);
    const QDir folder = info.absoluteDir();
    const QStringList names =
        folder.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QString &name : names) {
        if (!isCopyName(name, prefix))
            continue;
        const QByteArray path = encoded(folder.filePath(name));
        Descriptor fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held{}, named{};
        if (fd.get() < 0 || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)
            || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::lstat(path.constData(), &named) == 0 && named.st_ino == held.st_ino
            && named.st_dev == held.st_dev)
            ::unlink(path.constData());
    }
}

struct Copy
{
    QString path;
    int error = 0;
    // Holds the copy's lock until the copy is in place or gone.
    std::shared_ptr<Descriptor> lock;
};

// A hidden, flushed copy of `data` beside `target`, with the permissions of `existing`.
Copy writeCopy(const QString &target, const QByteArray &data, const struct stat *existing)
{
    removeAbandonedCopies(target);
    const QFileInfo info(target);
    const mode_t mode = existing ? (existing->st_mode & 07777) : 0666;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = info.absolutePath() + u'/' + copyPrefix(info)
            + QString::number(QRandomGenerator::global()->generate(), 36) + u'~';
        Descriptor fd(::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                             mode));
        if (fd.get() < 0 && errno == EEXIST)
            continue;
        if (fd.get() < 0)
            return {QString(), errno, nullptr};
        // Another save's sweep may have taken the copy for a leftover between its creation and
        // the lock: then it is gone or about to go, and another name is tried.
        struct stat created{};
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &created) != 0
            || created.st_nlink == 0)
            continue;
        // The lock belongs to the open file, so a duplicate keeps it past the close below.
        auto lock = std::make_shared<Descriptor>(::dup(fd.get()));
        int error = lock->get() < 0 ? errno : 0;
        if (!error)
            error = writeAll(fd.get(), data, 0);
        if (!error && existing) {
            // The umask may have taken bits the file had; ownership as far as we may set it.
            if (::fchmod(fd.get(), mode) != 0)
                error = errno;
            else if (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid()) {
                if (::fchown(fd.get(), existing->st_uid, existing->st_gid) != 0) {
                    // Only root may give a file away; the copy stays ours then.
                }
            }
        }
        if (!error && ::fsync(fd.get()) != 0)
            error = errno;
        if (!error)
            error = fd.close();
        if (error) {
            ::unlink(encoded(path).constData());
            return {QString(), error, nullptr};
        }
        return {path, 0, std::move(lock)};
    }
    return {QString(), EEXIST, nullptr};
}

// Our own error code: the file is no longer the one the caller last saw.
constexpr int kChanged = -1;

bool isLastSeen(const struct stat &info, const DiskAttributes &lastSeen)
{
    return quint64(info.st_ino) == lastSeen.inode && quint64(info.st_dev) == lastSeen.device
        && lastSeen.size == qint64(info.st_size)
        && qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec
        == lastSeen.modifiedNs;
}

int replace(const QString &target, const QByteArray &data, const struct stat *existing,
            const DiskAttributes *lastSeen)
{
    const Copy copy = writeCopy(target, data, existing);
    if (copy.error)
        return copy.error;
    const QByteArray from = encoded(copy.path);
    const QByteArray to = encoded(target);
    // What the copy's name holds at the end (the copy, or the file it displaced) goes.
    const auto dropCopy = [&from](int result) {
        ::unlink(from.constData());
        return result;
    };
    if (lastSeen) {
        // A look at the file and then a rename would leave a gap, as long as a flush takes, for
        // another program's write to be replaced unseen. Swapped, the file lands at the copy's
        // name, where it can be looked at and put back.
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE)
            == 0) {
            struct stat displaced{};
            if (::lstat(from.constData(), &displaced) == 0 && isLastSeen(displaced, *lastSeen))
                return dropCopy(0);
            // The other program's file goes back; should even that fail, it stays at the
            // copy's name rather than be removed.
            if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                            RENAME_EXCHANGE)
                != 0)
                return errno;
            return dropCopy(kChanged);
        }
        if (errno == ENOENT)
            return dropCopy(kChanged);
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return dropCopy(errno);
        // A file system without swaps: the last look as late as it can be.
        struct stat now{};
        if (::stat(to.constData(), &now) != 0 || !isLastSeen(now, *lastSeen))
            return dropCopy(kChanged);
    }
    if (::rename(from.constData(), to.constData()) != 0)
        return dropCopy(errno);
    return 0;
}

int overwrite(int fd, const QByteArray &data)
{
    if (const int error = writeAll(fd, data, 0))
        return error;
    if (::ftruncate(fd, off_t(data.size())) != 0 || ::fsync(fd) != 0)
        return errno;
    return 0;
}

QByteArray readAll(int fd, off_t size)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        done += n;
    }
    return bytes;
}

struct InPlace
{
    int error = 0;
    QString keptCopy; // the new text, when the old bytes could not be put back
};

InPlace overwriteInPlace(const QString &target, const QByteArray &data,
                         const struct stat &existing, const DiskAttributes *lastSeen)
{
    const Copy copy = writeCopy(target, data, &existing);
    if (copy.error)
        return {copy.error, QString()};
    auto done = [&copy](int error, bool restored) -> InPlace {
        if (error && !restored) {
            // Out of the copies' pattern: no later save may take the only copy of the text for
            // a leftover.
            const QString kept = copy.path.chopped(1) + QStringLiteral(".unsaved");
            if (::rename(encoded(copy.path).constData(), encoded(kept).constData()) == 0)
                return {error, kept};
            return {error, copy.path};
        }
        ::unlink(encoded(copy.path).constData());
        return {error, QString()};
    };

    Descriptor fd(::open(encoded(target).constData(), O_RDWR | O_CLOEXEC));
    if (fd.get() < 0)
        return done(errno, true);
    struct stat opened{};
    if (lastSeen && (::fstat(fd.get(), &opened) != 0 || !isLastSeen(opened, *lastSeen)))
        return done(kChanged, true);
    const QByteArray old = readAll(fd.get(), existing.st_size);
    if (old.size() != existing.st_size)
        return done(EIO, true);
#ifdef __linux__
    // Reserving the growth first means the writes below cannot run out of space half way.
    if (data.size() > old.size()) {
        if (const int error = ::posix_fallocate(fd.get(), off_t(old.size()),
                                                off_t(data.size() - old.size()))) {
            const bool restored = ::ftruncate(fd.get(), off_t(old.size())) == 0;
            return done(error, restored);
        }
    }
#endif
    if (const int error = overwrite(fd.get(), data))
        return done(error, overwrite(fd.get(), old) == 0);
    if (const int error = fd.close())
        return done(error, false);
    return done(0, true);
}

} // namespace

namespace {

Result<bool> writeFile(const QString &path, const QByteArray &data, const DiskAttributes *lastSeen)
{
    const QString name = QFileInfo(path).fileName();
    auto failure = [&name](const QString &reason) {
        return Result<bool>::failure(
            QCoreApplication::translate("quorvel::core::FileWriter", "The document \u201C%1\u201D could not be saved. %2").arg(name, reason));
    };
    const QString target = writtenPath(path);
    struct stat existing{};
    const bool exists = ::stat(encoded(target).constData(), &existing) == 0;
    if (lastSeen && (!exists || !isLastSeen(existing, *lastSeen)))
        return false;
    if (exists && S_ISDIR(existing.st_mode))
        return failure(QCoreApplication::translate("quorvel::core::FileWriter", "A folder with that name is in the way."));
    if (exists && !S_ISREG(existing.st_mode))
        return failure(QCoreApplication::translate("quorvel::core::FileWriter", "It is not an ordinary file."));
    // A read-only file stays read-only, although its folder would let a replacement in.
    if (exists && ::access(encoded(target).constData(), W_OK) != 0)
        return failure(systemMessage(errno));

    if (exists && existing.st_nlink > 1) {
        const InPlace result = overwriteInPlace(target, data, existing, lastSeen);
        if (result.error == kChanged)
            return false;
        if (!result.error)
            return true;
        QString reason = systemMessage(result.error);
        if (!result.keptCopy.isEmpty())
            reason += QStringLiteral(" The new text is kept in \u201C%1\u201D.").arg(result.keptCopy);
        return failure(reason);
    }
    const int error = replace(target, data, exists ? &existing : nullptr, lastSeen);
    if (error == kChanged)
        return false;
    if (error)
        return failure(systemMessage(error));
    return true;
}

} // namespace

Result<void> FileWriter::write(const QString &path, const QByteArray &data)
{
    const auto written = writeFile(path, data, nullptr);
    return written ? Result<void>::success() : Result<void>::failure(written.error());
}

std::optional<QString> FileWriter::refusal(const QString &path, const QString &source)
{
    if (!QFileInfo(path).absoluteDir().exists())
        return QStringLiteral("no such folder");
    struct stat target{};
    if (::stat(encoded(path).constData(), &target) != 0)
        return std::nullopt; // a new file
    if (S_ISDIR(target.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(target.st_mode))
        return QStringLiteral("not a regular file");
    struct stat from{};
    if (::stat(encoded(source).constData(), &from) == 0 && from.st_dev == target.st_dev
        && from.st_ino == target.st_ino)
        return QStringLiteral("it is the input");
    return std::nullopt;
}

Result<void> FileWriter::move(const QString &from, const QString &to)
{
    const auto failure = [&](const QString &reason) {
        return Result<void>::failure(QStringLiteral("\u201C%1\u201D could not be moved to \u201C%2\u201D. %3")
                                         .arg(QFileInfo(from).fileName(), to, reason));
    };
    struct stat source{};
    if (::lstat(encoded(from).constData(), &source) != 0)
        return failure(systemMessage(errno));
    if (!S_ISREG(source.st_mode))
        return failure(QCoreApplication::translate("quorvel::core::FileWriter", "It is not an ordinary file."));
    struct stat existing{};
    if (::lstat(encoded(to).constData(), &existing) == 0)
        return failure(QCoreApplication::translate("quorvel::core::FileWriter", "An item with that name is already there."));
    // No replacing, even of a file that appears in the meantime.
    if (::renameat2(AT_FDCWD, encoded(from).constData(), AT_FDCWD, encoded(to).constData(),
                    RENAME_NOREPLACE)
        == 0)
        return Result<void>::success();
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without the flag: a second name, then the first one dropped.
        if (::link(encoded(from).constData(), encoded(to).constData()) == 0) {
            ::unlink(encoded(from).constData());
            return Result<void>::success();
        }
        error = errno;
    }
    if (error == EEXIST)
        return failure(QCoreApplication::translate("quorvel::core::FileWriter", "An item with that name is already there."));
    if (error != EXDEV)
        return failure(systemMessage(error));
    const Result<QByteArray> bytes = FileReader::read(from, FileReader::kDocumentLimit);
    if (!bytes)
        return failure(bytes.error());
    if (const auto written = write(to, bytes.value()); !written)
        return failure(written.error());
    if (::unlink(encoded(from).constData()) != 0) {
        const int unlinked = errno;
        ::unlink(encoded(to).constData());
        return failure(systemMessage(unlinked));
    }
    return Result<void>::success();
}

Result<bool> FileWriter::writeOver(const QString &path, const QByteArray &data,
                                   const DiskAttributes &lastSeen)
{
    return writeFile(path, data, lastSeen.exists() ? &lastSeen : nullptr);
}

} // namespace quorvel::core
