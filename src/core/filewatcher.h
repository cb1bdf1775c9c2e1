#pragma once

#include "scheduler.h"

#include <QObject>
#include <QString>

#include <functional>

namespace quorvel::core {

// Tells its owner that the watched file may have changed on disk. It watches the file and its
// folder, so that writes in place, atomic replacements (a new file renamed over the old one),
// deletions and re-creations are all seen; it compares nothing, the owner looks at the file.
// A burst of events gives one call, 0.3 s after the last event, on the main thread. After a
// delete or rename the watch moves, 0.5 s later, to whatever file then has the path. Destroying
// the watcher stops it: no call arrives afterwards.
class FileWatcher : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kMergeDelay{300};
    static constexpr std::chrono::milliseconds kRearmDelay{500};

    FileWatcher(const QString &path, Scheduler &scheduler, std::function<void()> onChange,
                QObject *parent = nullptr);
    ~FileWatcher() override;

    void stop();

    QString path() const { return m_path; }
    bool isWatchingFile() const { return m_fileArmed; }
    bool isWatchingFolder() const { return m_dirArmed; }
    bool hasPendingNotification() const { return m_pending.isPending(); }

private:
    friend class WatchHub;
    void armDirectory();
    void armFile();
    void fileEvent();
    void directoryEvent();
    void fire();

    QString m_path;
    QString m_dir;
    Scheduler &m_scheduler;
    std::function<void()> m_onChange;
    bool m_fileArmed = false;
    bool m_dirArmed = false;
    bool m_stopped = false;
    ScheduledWork m_pending;
    ScheduledWork m_rearm;
};

} // namespace quorvel::core
