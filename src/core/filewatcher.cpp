#include "filewatcher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QPointer>

namespace quorvel::core {

// One QFileSystemWatcher for the whole process: each one costs an inotify instance, of which a
// user gets only 128 by default, and windows on notes of one folder share its watch.
class WatchHub : public QObject
{
public:
    static WatchHub &shared()
    {
        static WatchHub *hub = new WatchHub(QCoreApplication::instance());
        return *hub;
    }

    bool subscribeFile(const QString &path, FileWatcher *watcher)
    {
        return subscribe(m_files, path, watcher);
    }
    bool subscribeDirectory(const QString &path, FileWatcher *watcher)
    {
        return subscribe(m_dirs, path, watcher);
    }
    void unsubscribeFile(const QString &path, FileWatcher *watcher)
    {
        unsubscribe(m_files, path, watcher);
    }
    void unsubscribeDirectory(const QString &path, FileWatcher *watcher)
    {
        unsubscribe(m_dirs, path, watcher);
    }
    // Qt drops a file from its watch once the file is deleted or renamed away.
    bool stillWatched(const QString &path) const { return m_watcher.files().contains(path); }

private:
    using Subscribers = QHash<QString, QList<QPointer<FileWatcher>>>;

    explicit WatchHub(QObject *parent)
        : QObject(parent)
    {
        connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this](const QString &path) {
            for (const auto &w : m_files.value(path)) {
                if (w)
                    w->fileEvent();
            }
        });
        connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
                [this](const QString &path) {
                    for (const auto &w : m_dirs.value(path)) {
                        if (w)
                            w->directoryEvent();
                    }
                });
    }

    bool subscribe(Subscribers &subscribers, const QString &path, FileWatcher *watcher)
    {
        auto &list = subscribers[path];
        list.removeIf([watcher](const QPointer<FileWatcher> &w) { return !w || w == watcher; });
        const bool watched = m_watcher.files().contains(path)
            || m_watcher.directories().contains(path) || m_watcher.addPath(path);
        if (!watched) {
            if (list.isEmpty())
                subscribers.remove(path);
            return false;
        }
        list.append(watcher);
        return true;
    }

    void unsubscribe(Subscribers &subscribers, const QString &path, FileWatcher *watcher)
    {
        auto it = subscribers.find(path);
        if (it == subscribers.end())
            return;
        it->removeIf([watcher](const QPointer<FileWatcher> &w) { return !w || w == watcher; });
        if (it->isEmpty()) {
            subscribers.erase(it);
            m_watcher.removePath(path);
        }
    }

    QFileSystemWatcher m_watcher;
    Subscribers m_files;
    Subscribers m_dirs;
};

FileWatcher::FileWatcher(const QString &path, Scheduler &scheduler,
                         std::function<void()> onChange, QObject *parent)
    : QObject(parent)
    , m_path(QFileInfo(path).absoluteFilePath())
    , m_dir(QFileInfo(m_path).absolutePath())
    , m_scheduler(scheduler)
    , m_onChange(std::move(onChange))
{
    armDirectory();
    armFile();
}

FileWatcher::~FileWatcher()
{
    stop();
    m_pending.cancel();
}

void FileWatcher::stop()
{
    m_stopped = true;
    m_rearm.cancel();
    if (m_fileArmed)
        WatchHub::shared().unsubscribeFile(m_path, this);
    if (m_dirArmed)
        WatchHub::shared().unsubscribeDirectory(m_dir, this);
    m_fileArmed = false;
    m_dirArmed = false;
}

void FileWatcher::armDirectory()
{
    m_dirArmed = WatchHub::shared().subscribeDirectory(m_dir, this);
}

void FileWatcher::armFile()
{
    if (m_stopped)
        return;
    if (m_fileArmed)
        WatchHub::shared().unsubscribeFile(m_path, this);
    m_fileArmed = WatchHub::shared().subscribeFile(m_path, this);
}

void FileWatcher::fileEvent()
{
    fire();
    if (WatchHub::shared().stillWatched(m_path))
        return;
    // Deleted or renamed away: give the program that is replacing it time to move the new file
    // onto the path, then watch that one.
    m_fileArmed = false;
    m_rearm.cancel();
    m_rearm = m_scheduler.after(kRearmDelay, [self = QPointer(this)] {
        if (self)
            self->armFile();
    });
}

void FileWatcher::directoryEvent()
{
    fire();
    // A file that came back after the re-arm gave up would otherwise be seen only through the
    // folder, and writes in place to it would go unnoticed.
    if (!m_fileArmed && !m_rearm.isPending() && QFileInfo::exists(m_path))
        armFile();
}

void FileWatcher::fire()
{
    if (m_stopped)
        return;
    m_pending.cancel();
    m_pending = m_scheduler.after(kMergeDelay, [self = QPointer(this)] {
        if (!self || self->m_stopped)
            return;
        // The owner may replace this watcher from the callback (it follows a renamed file), so
        // the call runs on a copy that outlives the watcher.
        const auto onChange = self->m_onChange;
        onChange();
    });
}

} // namespace quorvel::core
