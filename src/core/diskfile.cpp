#include "diskfile.h"

#include "filereader.h"
#include "filewatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace quorvel::core {

namespace {

bool looksLikeBackup(const QString &name)
{
    static const QStringList suffixes{QStringLiteral("~"), QStringLiteral(".bak"),
                                      QStringLiteral(".tmp"), QStringLiteral(".swp"),
                                      QStringLiteral(".orig")};
    return std::any_of(suffixes.cbegin(), suffixes.cend(), [&name](const QString &suffix) {
        return name.endsWith(suffix, Qt::CaseInsensitive);
    });
}

} // namespace

DiskFile::DiskFile(Scheduler &scheduler)
    : m_scheduler(scheduler)
{
}

DiskFile::~DiskFile() = default;

void DiskFile::watch(const QString &path, std::function<void()> onChange)
{
    m_watcher.reset();
    m_path = path;
    struct stat info{};
    m_pathWasLink = !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0
        && S_ISLNK(info.st_mode);
    m_lastSeen = attributes();
    if (!path.isEmpty())
        m_watcher = std::make_unique<FileWatcher>(path, m_scheduler, std::move(onChange));
}

DiskAttributes DiskFile::attributes() const
{
    return attributesOf(m_path);
}

DiskAttributes DiskFile::attributesOf(const QString &path)
{
    if (path.isEmpty())
        return {};
    struct stat info{};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const qint64 ns = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
    return {QDateTime::fromMSecsSinceEpoch(ns / 1'000'000), qint64(info.st_size), ns,
            quint64(info.st_ino), quint64(info.st_dev)};
}

std::optional<DecodedText> DiskFile::read(TextEncoding preferred) const
{
    // Another program may have put a FIFO or a device where the note was: a plain open would
    // wait on it (or read on without end) with the window frozen.
    const Result<QByteArray> bytes = FileReader::read(m_path, FileReader::kDocumentLimit);
    if (!bytes)
        return std::nullopt;
    return TextEncoding::decode(bytes.value(), preferred);
}

std::optional<QString> DiskFile::intruder() const
{
    if (m_path.isEmpty())
        return std::nullopt;
    const QByteArray path = QFile::encodeName(m_path);
    struct stat info{};
    if (::lstat(path.constData(), &info) != 0)
        return std::nullopt;
    if (S_ISLNK(info.st_mode) && !m_pathWasLink)
        return QStringLiteral("a link to \u201C%1\u201D").arg(QFileInfo(m_path).symLinkTarget());
    if (S_ISLNK(info.st_mode) && ::stat(path.constData(), &info) != 0)
        return std::nullopt;
    if (S_ISFIFO(info.st_mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(info.st_mode))
        return QStringLiteral("a socket");
    return std::nullopt;
}

bool DiskFile::removeIntruder()
{
    if (!intruder())
        return true;
    // unlink() takes the name itself: the link goes, what it points to stays untouched.
    if (::unlink(QFile::encodeName(m_path).constData()) != 0)
        return false;
    m_pathWasLink = false;
    m_lastSeen = {};
    return true;
}

std::optional<QString> DiskFile::findRenamed() const
{
    if (!m_lastSeen.exists())
        return std::nullopt;
    const QDir folder = QFileInfo(m_path).absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    for (const QString &name : names) {
        if (looksLikeBackup(name))
            continue;
        const QString candidate = folder.filePath(name);
        struct stat info{};
        if (::lstat(QFile::encodeName(candidate).constData(), &info) != 0
            || !S_ISREG(info.st_mode))
            continue;
        // The inode alone is not enough: a deleted file's inode goes to the next file made, at
        // once on most file systems (seen here: our own settings file, saved right after the
        // note was deleted). A rename keeps the modification time and the size as well.
        const qint64 modifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        if (quint64(info.st_ino) == m_lastSeen.inode && quint64(info.st_dev) == m_lastSeen.device
            && qint64(info.st_size) == m_lastSeen.size && modifiedNs == m_lastSeen.modifiedNs)
            return candidate;
    }
    return std::nullopt;
}

} // namespace quorvel::core
