#pragma once

#include "scheduler.h"
#include "textencoding.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quorvel::core {

class FileWatcher;

// How the file looked when last seen. Besides the date and size, the nanosecond date and the
// inode tell apart two writes within one millisecond and a same-sized replacement; the inode and
// device find the file again after another program renamed it.
struct DiskAttributes
{
    std::optional<QDateTime> date;
    std::optional<qint64> size;
    qint64 modifiedNs = 0;
    quint64 inode = 0;
    quint64 device = 0;

    bool exists() const { return size.has_value(); }
    bool operator==(const DiskAttributes &) const = default;
};

// The document's file as the model last saw it on disk: the watcher on it, how it looked, and
// what another program left there (its text, or where it went). It decides nothing: the model
// tells an echo of its own save from an outside change and shows what the user must know.
class DiskFile
{
public:
    explicit DiskFile(Scheduler &scheduler);
    ~DiskFile();

    // Watches `path` and takes how it looks now as last seen; an empty path stops watching.
    void watch(const QString &path, std::function<void()> onChange);
    FileWatcher *watcher() const { return m_watcher.get(); }

    // The file at the path now; all absent when there is none or it cannot be looked at.
    DiskAttributes attributes() const;
    static DiskAttributes attributesOf(const QString &path);
    const DiskAttributes &lastSeen() const { return m_lastSeen; }
    void setLastSeen(const DiskAttributes &attributes) { m_lastSeen = attributes; }
    void refresh() { m_lastSeen = attributes(); }
    bool changedSinceLastSeen() const { return !m_path.isEmpty() && attributes() != m_lastSeen; }

    // The file's text as opening it would read it, in `preferred` where the bytes allow; nothing
    // when it is gone, unreadable or not text.
    std::optional<DecodedText> read(TextEncoding preferred) const;

    // What another program put at the path instead of the file: a symbolic link where there was
    // none ("a link to “/home/me/.bashrc”"), a FIFO, a device or a socket; nothing for a regular
    // file or a folder, or an empty path. A save must not write through such a thing unasked.
    std::optional<QString> intruder() const;
    // Removes what intruder() names (the link or special file itself, never what it points to),
    // so that the next save writes an ordinary file there. False when it could not.
    bool removeIntruder();

    // Where the file last seen went after its path emptied: the entry of the same folder with
    // its inode. Backup names are passed over: an editor that moves the file aside and writes a
    // new one in its place has not renamed it.
    std::optional<QString> findRenamed() const;

private:
    Scheduler &m_scheduler;
    QString m_path;
    bool m_pathWasLink = false; // a note opened through a link may be saved through it
    DiskAttributes m_lastSeen;
    std::unique_ptr<FileWatcher> m_watcher;
};

} // namespace quorvel::core
