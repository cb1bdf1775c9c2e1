#pragma once

#include "searchdatabase.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>

namespace quorvel::vault {

class IndexWorker;

// The full-text index of one vault, kept on a thread of its own so that nobody waits on it.
// Opened, it reads what changed since it last ran (or everything, for a database made afresh),
// then follows the vault's folders as they change and the saves the program reports. Requests
// are answered by signals, in the order they were asked, each with the number its request
// returned. A folder that is no vault (a note's own folder) is indexed without the folders
// under it. Lives on the main thread.
class SearchIndex : public QObject
{
    Q_OBJECT

public:
    // Note files, by extension in lower case.
    static bool isNote(const QString &path);
    // The index of the document's vault, shared per vault for the life of the program.
    static SearchIndex &forDocument(const QString &documentPath);
    // Where the index of the vault at `root` is kept: the user's cache folder, never the vault.
    static QString databaseFile(const QString &root);

    // `root` is the vault's folder; `databaseFile` empty keeps the index in memory.
    SearchIndex(const QString &root, const QString &databaseFile, QObject *parent = nullptr);
    ~SearchIndex() override;

    QString root() const { return m_root; }

    quint64 search(const QString &query, int limit = 50);
    quint64 backlinks(const QString &notePath);
    quint64 quickOpen(const QString &query, const QStringList &recent);
    // A note the program saved (or renamed, or made): indexed now, ahead of anything waiting.
    void noteChanged(const QString &path);

    // Notes indexed of the ones waiting, while a pass runs; both 0 when idle.
    int done() const { return m_done; }
    int total() const { return m_total; }
    bool idle() const { return m_total == 0 && m_started; }
    // Notes that could not be read (skipped, never fatal).
    int unreadable() const { return m_unreadable; }
    // Whether the index lives in memory, having no place on disk.
    bool inMemory() const { return m_inMemory; }

Q_SIGNALS:
    void searched(quint64 request, const QList<quorvel::vault::SearchHit> &hits);
    void backlinksFound(quint64 request, const quorvel::vault::Backlinks &backlinks);
    void quickOpened(quint64 request, const QStringList &paths);
    void progressChanged(int done, int total);
    // Notes were added, changed or removed: what was shown may be out of date.
    void updated();
    // Everything waiting is indexed.
    void becameIdle();

private:
    friend class IndexWorker;
    void report(int done, int total, int unreadable, bool inMemory);

    QString m_root;
    QThread m_thread;
    IndexWorker *m_worker = nullptr;
    quint64 m_nextRequest = 0;
    int m_done = 0;
    int m_total = 0;
    int m_unreadable = 0;
    bool m_started = false;
    bool m_inMemory = false;
};

} // namespace quorvel::vault
