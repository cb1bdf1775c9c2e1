#include "folderlistings.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel::vault {

namespace {

// Links are not followed, so a folder reached through a symbolic link is never kept: a change
// above the link's target would go unseen.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB
    | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
// Each kept folder costs its names in memory and a watch on it and on each folder above it.
constexpr qsizetype kMaxFolders = 64;

} // namespace

FolderListings::FolderListings() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) { }

FolderListings::~FolderListings()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

// Folders asked about long ago make way for the ones asked about now; their watches go with them,
// so a long session does not gather watches without end.
void FolderListings::restart()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_watched.clear();
    m_listings.clear();
}

FolderListings &FolderListings::shared()
{
    // Never destroyed: worker threads may still ask while the process exits.
    static FolderListings *const listings = new FolderListings;
    return *listings;
}

bool FolderListings::statExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

FolderListings::Batch::Batch(FolderListings &listings) : m_listings(listings)
{
    m_listings.m_lock.lock();
    m_listings.drain();
}

FolderListings::Batch::~Batch()
{
    m_listings.m_lock.unlock();
}

bool FolderListings::Batch::exists(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (slash < 0 || name.isEmpty() || name == u"." || name == u"..")
        return statExists(path);
    const Listing *listing =
        m_listings.listing(slash == 0 ? QStringLiteral("/") : path.left(slash));
    if (!listing || listing->uncertain.contains(name))
        return statExists(path);
    return listing->present.contains(name);
}

void FolderListings::drain()
{
    if (m_fd < 0)
        return;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t size = ::read(m_fd, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return;
        for (const char *at = buffer; at < buffer + size;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            at += sizeof(inotify_event) + event->len;
            const auto folder = m_watched.constFind(event->wd);
            if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF
                                | IN_UNMOUNT))
                || folder == m_watched.cend()) {
                // Rare; where a watched folder went is not worth working out.
                m_listings.clear();
                if (event->mask & IN_IGNORED)
                    m_watched.remove(event->wd);
                continue;
            }
            if (event->len == 0) {
                forget(*folder);
                continue;
            }
            // Only the folder whose entries changed and what lies under the entry matter; the
            // many changes elsewhere in a watched parent such as /tmp are dropped here. A folder
            // below is dropped too although its own watch reports its removal, because that
            // report waits until nothing holds the folder open any more.
            const QString child = (folder->endsWith(u'/') ? *folder : *folder + u'/')
                + QFile::decodeName(event->name);
            m_listings.remove(*folder);
            forget(child);
        }
    }
}

void FolderListings::forget(const QString &folder)
{
    m_listings.remove(folder);
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    m_listings.removeIf([&](const auto &entry) { return entry.key().startsWith(prefix); });
}

bool FolderListings::watchDown(const QString &folder)
{
    // From "/" down, so that a folder replaced while the watches are added shows up as an event
    // in its parent, already watched.
    QStringList prefixes{QStringLiteral("/")};
    for (qsizetype end = folder.indexOf(u'/', 1); end > 0; end = folder.indexOf(u'/', end + 1))
        prefixes << folder.left(end);
    if (folder != u'/')
        prefixes << folder;
    for (const QString &prefix : std::as_const(prefixes)) {
        const int watch =
            ::inotify_add_watch(m_fd, QFile::encodeName(prefix).constData(), kWatchMask);
        if (watch < 0)
            return false;
        m_watched.insert(watch, prefix);
    }
    return true;
}

const FolderListings::Listing *FolderListings::listing(const QString &folder)
{
    if (const auto found = m_listings.constFind(folder); found != m_listings.cend())
        return &*found;
    if (m_listings.size() >= kMaxFolders)
        restart();
    if (m_fd < 0 || !folder.startsWith(u'/'))
        return nullptr;
    // Watched before it is read: a change while it is read is then seen by the next question.
    if (!watchDown(folder))
        return nullptr;
    const QByteArray native = QFile::encodeName(folder);
    if (::faccessat(AT_FDCWD, native.constData(), X_OK, AT_EACCESS) != 0)
        return nullptr;
    DIR *dir = ::opendir(native.constData());
    if (!dir)
        return nullptr;
    Listing listing;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        const bool plain = entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN;
        (plain ? listing.present : listing.uncertain).insert(QFile::decodeName(name));
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete)
        return nullptr;
    return &*m_listings.insert(folder, std::move(listing));
}

} // namespace quorvel::vault
