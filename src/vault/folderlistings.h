#pragma once

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

namespace quorvel::vault {

// Whether a path names an item, answered as `stat` would answer it at the moment of asking, but
// mostly without a system call per path: a system call costs a microsecond or more, and a lookup
// tries up to four paths before the index. The names in a few folders are kept, each folder and
// every folder above it watched with inotify; one read of the pending events per question tells
// which kept folders changed since. The kernel queues an event before the change's own call
// returns, so a change that happened before a question is always seen by it. Where anything
// cannot be watched or listed, the answer comes from `stat` itself.
class FolderListings
{
public:
    FolderListings();
    ~FolderListings();
    FolderListings(const FolderListings &) = delete;
    FolderListings &operator=(const FolderListings &) = delete;

    // Paths are absolute and cleaned. Holds a lock while it runs, so a batch of questions asked
    // together costs one look at the pending events.
    class Batch
    {
    public:
        explicit Batch(FolderListings &listings);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

        bool exists(const QString &path);

    private:
        FolderListings &m_listings;
    };

    static FolderListings &shared();
    static bool statExists(const QString &path);

private:
    struct Listing
    {
        QSet<QString> present;   // items whose existence needs nothing else to hold
        QSet<QString> uncertain; // symbolic links, whose answer depends on their target
    };

    void restart();
    void drain();
    void forget(const QString &folder); // and every folder under it
    const Listing *listing(const QString &folder);
    bool watchDown(const QString &folder);

    QMutex m_lock;
    int m_fd = -1;
    QHash<int, QString> m_watched; // inotify watch → the folder it was added for
    QHash<QString, Listing> m_listings;
};

} // namespace quorvel::vault
