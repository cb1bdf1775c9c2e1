#include "searchindex.h"

#include "vaultindex.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <future>
#include <vector>
#include <utility>
#include <optional>

namespace quorvel::vault {

using namespace Qt::StringLiterals;

namespace {

// A note is read in pieces of about this many bytes, whatever its size.
constexpr qint64 kPieceBytes = 1024 * 1024;
// Notes read together on another thread while the database stores those read before.
constexpr size_t kBatch = 64;
// How long one slice of work holds the thread before requests waiting are answered.
constexpr qint64 kSliceMs = 40;
// The longest a pass goes without committing what it indexed.
constexpr qint64 kTransactionMs = 3000;
// Changes seen by the folder watcher are taken in together after this quiet moment.
constexpr int kSettleMs = 60;
// Where the kernel cannot watch every folder, the tree is read again this often.
constexpr int kPollMs = 30'000;

constexpr uint32_t kWatchMask = IN_CLOSE_WRITE | IN_MODIFY | IN_CREATE | IN_DELETE | IN_MOVED_FROM
    | IN_MOVED_TO | IN_DELETE_SELF | IN_ONLYDIR;

std::optional<FileStamp> stampOf(const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return std::nullopt;
    return FileStamp{qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec, qint64(st.st_size)};
}

// A note's file read in pieces of whole lines, so that a note of any size is indexed in memory
// of a piece's size. Opened only when it is a regular file.
class NoteFile
{
public:
    ~NoteFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const QString &path, FileStamp *stamp)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        struct stat st;
        const std::optional<FileStamp> found = ::fstat(m_fd, &st) == 0 ? stampOf(st) : std::nullopt;
        if (found) {
            *stamp = *found;
            m_left = found->size;
        }
        return found.has_value();
    }

    // The next piece, empty at the end; none when the file cannot be read.
    std::optional<QString> next()
    {
        QString piece = std::exchange(m_rest, {});
        while (!m_end) {
            // As much as is left (and a little more, to find the end in the same call): a
            // small note costs no piece's worth of memory.
            QByteArray bytes(std::clamp<qint64>(m_left + 1, 1, kPieceBytes), Qt::Uninitialized);
            const ssize_t n = ::read(m_fd, bytes.data(), size_t(bytes.size()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return std::nullopt;
            bytes.truncate(n);
            m_left = std::max<qint64>(m_left - n, 0);
            if (!m_decoder) {
                // UTF-16 notes announce themselves; anything else is read as UTF-8, bad bytes
                // replaced.
                const auto encoding = QStringConverter::encodingForData(bytes);
                m_decoder.emplace(encoding.value_or(QStringConverter::Utf8));
            }
            m_end = n == 0;
            piece += m_end ? QString(m_decoder->decode(QByteArrayView())) : QString(m_decoder->decode(bytes));
            // A line cut in two waits for its end.
            const qsizetype newline = piece.lastIndexOf(u'\n');
            if (m_end || newline >= 0) {
                if (!m_end) {
                    m_rest = piece.mid(newline + 1);
                    piece.truncate(newline + 1);
                }
                return piece;
            }
            // A line of many pieces (one long line of data) is cut where a word ends.
            if (piece.size() > 2 * kPieceBytes) {
                const qsizetype space = piece.lastIndexOf(u' ');
                const qsizetype cut = space > 0 ? space + 1 : piece.size();
                m_rest = piece.mid(cut);
                piece.truncate(cut);
                return piece;
            }
        }
        return piece;
    }

private:
    int m_fd = -1;
    qint64 m_left = 0; // bytes the file held when opened, not read yet
    bool m_end = false;
    std::optional<QStringDecoder> m_decoder;
    QString m_rest;
};

// A note that is a link to a file elsewhere is read only when that file is in the vault too: a
// link to a file outside would put what it holds into the vault's search.
bool leadsInside(const QString &path, const QString &canonicalRoot)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return true;
    return QFileInfo(path).canonicalFilePath().startsWith(canonicalRoot);
}

// What was learnt of a note away from the database, for the database's thread to act on.
struct PreparedNote
{
    enum class State { Gone, NotAFile, Outside, Unchanged, Unreadable, Large, Read };
    QString path;
    State state = State::Gone;
    FileStamp stamp;
    NoteContent content;
};

// Reads a note, unless it is as `known` says, too large to hold at once, or no note to read.
PreparedNote prepareNote(const QString &path, std::optional<FileStamp> known, const QString &canonicalRoot)
{
    using State = PreparedNote::State;
    PreparedNote note{path, State::Gone, {}, {}};
    struct stat st;
    const bool present = ::stat(QFile::encodeName(path).constData(), &st) == 0;
    const auto stamp = present ? stampOf(st) : std::nullopt;
    if (!stamp) {
        // Gone, or not a file to read (a pipe, a device): never opened.
        note.state = present && !S_ISDIR(st.st_mode) ? State::NotAFile : State::Gone;
        return note;
    }
    note.stamp = *stamp;
    if (!leadsInside(path, canonicalRoot))
        note.state = State::Outside;
    else if (known && *known == *stamp)
        note.state = State::Unchanged;
    else if (stamp->size > kPieceBytes)
        note.state = State::Large;
    if (note.state != State::Gone)
        return note;
    NoteFile file;
    note.state = State::Unreadable;
    if (!file.open(path, &note.stamp))
        return note;
    SectionReader reader;
    for (;;) {
        const std::optional<QString> piece = file.next();
        if (!piece)
            return note;
        if (piece->isEmpty())
            break;
        NoteContent part = readPiece(*piece, reader);
        note.content.sections += std::move(part.sections);
        note.content.links += std::move(part.links);
    }
    reader.finish();
    note.content.sections += reader.take();
    note.state = State::Read;
    return note;
}

// The index's threads give way to the window's: with two cores, the reading and the storing
// would otherwise take turns with it on both.
void yieldToWindow()
{
    ::setpriority(PRIO_PROCESS, ::gettid(), 10);
}

bool isHiddenOrSkipped(QStringView relative)
{
    for (const QStringView part : relative.split(u'/')) {
        if (part.startsWith(u'.') || VaultIndex::skipped().contains(part.toString()))
            return true;
    }
    return false;
}

} // namespace

// The index's work, on its own thread: the database connection, the watches, the queue.
class IndexWorker : public QObject
{
public:
    IndexWorker(SearchIndex *owner, QString root, QString file)
        : m_owner(owner), m_root(std::move(root)), m_file(std::move(file))
    {
    }

    ~IndexWorker() override
    {
        // Closed in the middle of a pass: what was indexed is kept.
        if (m_transaction.isValid())
            m_db.commit();
        if (m_inotify >= 0)
            ::close(m_inotify);
    }

    void start()
    {
        yieldToWindow();
        m_recursive = QFileInfo::exists(m_root + u"/.obsidian"_s);
        m_canonicalRoot = QFileInfo(m_root).canonicalFilePath() + u'/';
        openDatabase();
        m_settle = new QTimer(this);
        m_settle->setSingleShot(true);
        m_settle->setInterval(kSettleMs);
        connect(m_settle, &QTimer::timeout, this, [this] { schedule(); });
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotify >= 0) {
            auto *notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, [this] { readEvents(); });
        }
        rescan(Pass::Startup);
    }

    void noteChanged(const QString &path)
    {
        const QString clean = QDir::cleanPath(path);
        if (!isInVault(clean))
            return;
        m_namesChanged |= !m_known.contains(clean);
        if (!m_queued.contains(clean)) {
            m_queue.push_front(clean);
            m_queued.insert(clean);
            ++m_total;
        }
        schedule();
    }

    void search(quint64 request, const QString &query, int limit)
    {
        QElapsedTimer clock;
        clock.start();
        auto hits = m_db.search(query, limit);
        recoverIfDamaged();
        QMetaObject::invokeMethod(m_owner, [owner = m_owner, request, hits = std::move(hits)] {
            Q_EMIT owner->searched(request, hits);
        }, Qt::QueuedConnection);
    }

    void backlinks(quint64 request, const QString &path)
    {
        auto found = m_db.backlinks(path);
        recoverIfDamaged();
        QMetaObject::invokeMethod(m_owner, [owner = m_owner, request, found = std::move(found)] {
            Q_EMIT owner->backlinksFound(request, found);
        }, Qt::QueuedConnection);
    }

    void quickOpen(quint64 request, const QString &query, const QStringList &recent)
    {
        auto paths = m_db.quickOpen(query, recent, m_root);
        recoverIfDamaged();
        QMetaObject::invokeMethod(m_owner, [owner = m_owner, request, paths = std::move(paths)] {
            Q_EMIT owner->quickOpened(request, paths);
        }, Qt::QueuedConnection);
    }

private:
    void openDatabase()
    {
        m_db.open(m_file);
        m_known = m_db.notes();
    }

    // A database found damaged while in use is made again from the notes.
    void recoverIfDamaged()
    {
        if (!m_db.damaged())
            return;
        // One being built aside is thrown away by opening again; the one in place may be
        // another process's, whole, while this connection failed on it.
        if (!m_db.building())
            QFile::remove(m_db.file());
        openDatabase();
        rescan(Pass::Startup);
    }

    bool isInVault(const QString &path) const
    {
        const QString prefix = m_root.endsWith(u'/') ? m_root : m_root + u'/';
        const QStringView relative = QStringView(path).mid(prefix.size());
        return path.startsWith(prefix) && SearchIndex::isNote(path) && !isHiddenOrSkipped(relative)
            && (m_recursive || !relative.contains(u'/'));
    }

    void enqueue(const QString &path)
    {
        if (m_queued.contains(path))
            return;
        m_queue.push_back(path);
        m_queued.insert(path);
        ++m_total;
    }

    // Reads the folder (and those under it, by the vault's rules) and watches each; the notes
    // found, with their files' stamps, go into `found`.
    void scanFolder(const QString &folder, QHash<QString, FileStamp> &found)
    {
        std::vector<QString> folders{folder};
        while (!folders.empty()) {
            const QString current = folders.back();
            folders.pop_back();
            DIR *dir = ::opendir(QFile::encodeName(current).constData());
            if (!dir)
                continue;
            watch(current);
            const QString prefix = current.endsWith(u'/') ? current : current + u'/';
            while (const dirent *entry = ::readdir(dir)) {
                if (entry->d_name[0] == '.')
                    continue;
                const QString name = QFile::decodeName(entry->d_name);
                struct stat st;
                if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) != 0) {
                    if (SearchIndex::isNote(name))
                        found.insert(prefix + name, FileStamp{-1, -1});
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    // A link to a folder could lead in circles or out of the vault.
                    if (m_recursive && entry->d_type != DT_LNK && !VaultIndex::skipped().contains(name))
                        folders.push_back(prefix + name);
                    continue;
                }
                if (SearchIndex::isNote(name)) {
                    const auto stamp = stampOf(st);
                    found.insert(prefix + name, stamp.value_or(FileStamp{-1, -1}));
                }
            }
            ::closedir(dir);
        }
    }

    void watch(const QString &folder)
    {
        if (m_inotify < 0) {
            startPolling();
            return;
        }
        const int wd = ::inotify_add_watch(m_inotify, QFile::encodeName(folder).constData(), kWatchMask);
        if (wd < 0) {
            startPolling();
            return;
        }
        m_watched.insert(wd, folder);
    }

    void forgetWatchesUnder(const QString &folder)
    {
        const QString prefix = folder + u'/';
        for (auto it = m_watched.begin(); it != m_watched.end();) {
            if (it.value() == folder || it.value().startsWith(prefix)) {
                ::inotify_rm_watch(m_inotify, it.key());
                it = m_watched.erase(it);
            } else {
                ++it;
            }
        }
    }

    void startPolling()
    {
        if (m_poll)
            return;
        m_poll = new QTimer(this);
        m_poll->setInterval(kPollMs);
        connect(m_poll, &QTimer::timeout, this, [this] { rescan(); });
        m_poll->start();
    }

    enum class Pass { Startup, Later };

    // Compares the tree with what the database knows and queues the differences. The notes a
    // startup pass finds new to the database were there before the program looked: they are no
    // change to the names the window's index knows, which would otherwise be read again whole
    // at the end (on a vault of 100,000 notes, a second copy of every path at once).
    void rescan(Pass pass = Pass::Later)
    {
        if (pass == Pass::Startup)
            m_startupPass = true;
        QHash<QString, FileStamp> found;
        scanFolder(m_root, found);
        for (auto it = found.cbegin(); it != found.cend(); ++it) {
            const auto known = m_known.constFind(it.key());
            if (known == m_known.cend() || known.value() != it.value())
                enqueue(it.key());
        }
        for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
            if (!found.contains(it.key()))
                enqueue(it.key());
        }
        m_started = true;
        schedule();
    }

    void readEvents()
    {
        alignas(inotify_event) char buffer[16384];
        bool overflow = false;
        for (;;) {
            const ssize_t length = ::read(m_inotify, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    overflow = true;
                    continue;
                }
                const QString folder = m_watched.value(event->wd);
                if (folder.isEmpty())
                    continue;
                if (event->mask & (IN_DELETE_SELF | IN_IGNORED)) {
                    m_watched.remove(event->wd);
                    continue;
                }
                if (event->len == 0)
                    continue;
                const QString name = QFile::decodeName(event->name);
                if (name.startsWith(u'.'))
                    continue;
                const QString path = folder + u'/' + name;
                if (event->mask & IN_ISDIR) {
                    if (!m_recursive || VaultIndex::skipped().contains(name))
                        continue;
                    m_namesChanged = true;
                    if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                        QHash<QString, FileStamp> found;
                        scanFolder(path, found);
                        for (auto it = found.cbegin(); it != found.cend(); ++it)
                            enqueue(it.key());
                    } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                        forgetWatchesUnder(path);
                        for (const QString &note : m_db.notesUnder(path))
                            enqueue(note);
                    }
                    continue;
                }
                if (SearchIndex::isNote(name)) {
                    m_namesChanged |= !m_known.contains(path) || (event->mask & (IN_DELETE | IN_MOVED_FROM));
                    enqueue(path);
                }
            }
        }
        if (overflow)
            rescan();
        if (!m_queue.empty())
            m_settle->start();
    }

    void schedule()
    {
        if (m_posted)
            return;
        m_posted = true;
        QMetaObject::invokeMethod(this, [this] { processSlice(); }, Qt::QueuedConnection);
    }

    void processSlice()
    {
        m_posted = false;
        if (!pending()) {
            reportProgress(false);
            return;
        }
        QElapsedTimer clock;
        clock.start();
        bool changed = false;
        // One transaction spans many slices of a long pass: each commit leaves the full-text
        // index a segment to merge, and thousands of small ones cost more than the notes.
        // Requests between slices use this connection and so see what is not committed yet.
        if (!m_transaction.isValid() && m_db.begin())
            m_transaction.start();
        readAhead();
        while (m_batch.valid() && clock.elapsed() < kSliceMs) {
            const std::vector<PreparedNote> notes = m_batch.get();
            readAhead();
            for (const PreparedNote &note : notes) {
                ++m_done;
                changed |= apply(note);
            }
        }
        // A database built aside is nobody else's: it is committed once, when put in place.
        if (m_transaction.isValid()
            && (!pending() || (!m_db.building() && m_transaction.elapsed() > kTransactionMs))) {
            m_db.commit();
            m_transaction.invalidate();
        }
        if (m_db.damaged()) {
            m_transaction.invalidate();
            recoverIfDamaged();
            return;
        }
        if (!pending() && m_db.building() && m_db.finishBuild()) {
            // Another instance of the program put its database in place first: that one is used,
            // and whatever it lacks is read again.
            m_known = m_db.notes();
            m_done = m_total = 0;
            rescan(Pass::Startup);
            return;
        }
        if (!pending()) {
            m_done = m_total = 0;
            m_startupPass = false;
            // A name may now lead elsewhere: a note was made, renamed or deleted.
            if (std::exchange(m_namesChanged, false))
                VaultIndex::index(m_root + u"/_"_s).rebuild();
        }
        reportProgress(changed);
        if (pending())
            schedule();
    }

    // Hands the next notes waiting to another thread to be read, while this one stores those
    // read before.
    void readAhead()
    {
        if (m_batch.valid() || m_queue.empty())
            return;
        std::vector<std::pair<QString, std::optional<FileStamp>>> work;
        while (!m_queue.empty() && work.size() < kBatch) {
            QString path = std::move(m_queue.front());
            m_queue.pop_front();
            m_queued.remove(path);
            const auto known = m_known.constFind(path);
            work.emplace_back(std::move(path),
                              known == m_known.cend() ? std::nullopt : std::optional(known.value()));
        }
        m_batch = std::async(std::launch::async, [work = std::move(work), root = m_canonicalRoot] {
            yieldToWindow();
            std::vector<PreparedNote> notes;
            notes.reserve(work.size());
            for (const auto &[path, known] : work)
                notes.push_back(prepareNote(path, known, root));
            return notes;
        });
    }

    bool pending() const { return !m_queue.empty() || m_batch.valid(); }

    // True when the database changed.
    bool apply(const PreparedNote &note)
    {
        using State = PreparedNote::State;
        const QString &path = note.path;
        switch (note.state) {
        case State::Gone:
        case State::NotAFile:
            if (note.state == State::NotAFile)
                markUnreadable(path);
            else if (m_unreadablePaths.remove(path))
                --m_unreadable;
            if (!m_known.remove(path))
                return false;
            m_db.remove(path);
            m_namesChanged = true;
            return true;
        case State::Outside:
            markUnreadable(path);
            if (!m_known.remove(path))
                return false;
            m_db.remove(path);
            return true;
        case State::Unreadable:
            markUnreadable(path);
            return false;
        case State::Unchanged:
            // Unless it was stored otherwise while it was looked at.
            if (m_known.value(path) == note.stamp)
                return false;
            return readInPieces(path);
        case State::Large:
            return readInPieces(path);
        case State::Read:
            break;
        }
        const bool added = !m_known.contains(path);
        if (!m_db.put(path, note.stamp, note.content))
            return false;
        if (m_unreadablePaths.remove(path))
            --m_unreadable;
        m_namesChanged |= added && !m_startupPass;
        m_known.insert(path, note.stamp);
        return true;
    }

    // A large note, a piece at a time straight into the database.
    bool readInPieces(const QString &path)
    {
        FileStamp read;
        NoteFile file;
        if (!file.open(path, &read)) {
            markUnreadable(path);
            return false;
        }
        const bool added = !m_known.contains(path);
        if (!m_db.putStart(path, read))
            return false;
        for (;;) {
            const std::optional<QString> piece = file.next();
            if (!piece) {
                // What was read of it is no answer: better none.
                m_db.remove(path);
                m_known.remove(path);
                markUnreadable(path);
                return true;
            }
            if (piece->isEmpty())
                break;
            if (!m_db.putPiece(*piece))
                return false;
        }
        if (!m_db.putEnd())
            return false;
        if (m_unreadablePaths.remove(path))
            --m_unreadable;
        m_namesChanged |= added && !m_startupPass;
        m_known.insert(path, read);
        return true;
    }

    void markUnreadable(const QString &path)
    {
        if (!m_unreadablePaths.contains(path)) {
            m_unreadablePaths.insert(path);
            ++m_unreadable;
        }
    }

    void reportProgress(bool changed)
    {
        const int done = m_done;
        const int total = m_total;
        const int unreadable = m_unreadable;
        const bool inMemory = m_db.inMemory();
        QMetaObject::invokeMethod(m_owner, [owner = m_owner, done, total, unreadable, inMemory, changed] {
            owner->report(done, total, unreadable, inMemory);
            if (changed)
                Q_EMIT owner->updated();
            if (total == 0)
                Q_EMIT owner->becameIdle();
        }, Qt::QueuedConnection);
    }

    SearchIndex *m_owner;
    const QString m_root;
    const QString m_file;
    QString m_canonicalRoot;
    SearchDatabase m_db;
    // The notes being read on another thread.
    std::future<std::vector<PreparedNote>> m_batch;
    QHash<QString, FileStamp> m_known;
    std::deque<QString> m_queue;
    QSet<QString> m_queued;
    QSet<QString> m_unreadablePaths;
    int m_done = 0;
    int m_total = 0;
    int m_unreadable = 0;
    bool m_posted = false;
    bool m_started = false;
    bool m_namesChanged = false;
    // The pass that follows opening runs (see rescan()).
    bool m_startupPass = false;
    // A folder that is no vault (a note's own folder) is indexed without the folders under it:
    // that could be a whole home folder.
    bool m_recursive = true;
    int m_inotify = -1;
    QHash<int, QString> m_watched;
    QTimer *m_settle = nullptr;
    QElapsedTimer m_transaction; // running while a transaction is open
    QTimer *m_poll = nullptr;
};

bool SearchIndex::isNote(const QString &path)
{
    static const QStringList extensions{u".md"_s, u".markdown"_s, u".mdown"_s,
                                        u".mkd"_s, u".mkdn"_s, u".txt"_s};
    for (const QString &extension : extensions) {
        if (path.endsWith(extension, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString SearchIndex::databaseFile(const QString &root)
{
    const QString canonical = QFileInfo(root).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash(
        QFile::encodeName(canonical.isEmpty() ? root : canonical), QCryptographicHash::Sha256);
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + u"/search/"_s
        + QString::fromLatin1(hash.toHex().left(32)) + u".sqlite"_s;
}

SearchIndex &SearchIndex::forDocument(const QString &documentPath)
{
    const QString root = VaultIndex::index(documentPath).root();
    static QHash<QString, QPointer<SearchIndex>> indexes;
    QPointer<SearchIndex> &index = indexes[root];
    if (!index)
        index = new SearchIndex(root, databaseFile(root), QCoreApplication::instance());
    return *index;
}

SearchIndex::SearchIndex(const QString &root, const QString &databaseFile, QObject *parent)
    : QObject(parent), m_root(QDir::cleanPath(root))
{
    m_thread.setObjectName(u"search index"_s);
    m_worker = new IndexWorker(this, m_root, databaseFile);
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start(QThread::LowPriority);
    QMetaObject::invokeMethod(m_worker, [worker = m_worker] { worker->start(); }, Qt::QueuedConnection);
}

SearchIndex::~SearchIndex()
{
    m_thread.quit();
    m_thread.wait();
}

void SearchIndex::report(int done, int total, int unreadable, bool inMemory)
{
    m_started = true;
    m_unreadable = unreadable;
    m_inMemory = inMemory;
    if (done == m_done && total == m_total)
        return;
    m_done = done;
    m_total = total;
    Q_EMIT progressChanged(done, total);
}

quint64 SearchIndex::search(const QString &query, int limit)
{
    const quint64 request = ++m_nextRequest;
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, request, query, limit] {
        worker->search(request, query, limit);
    }, Qt::QueuedConnection);
    return request;
}

quint64 SearchIndex::backlinks(const QString &notePath)
{
    const quint64 request = ++m_nextRequest;
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, request, path = QDir::cleanPath(notePath)] {
        worker->backlinks(request, path);
    }, Qt::QueuedConnection);
    return request;
}

quint64 SearchIndex::quickOpen(const QString &query, const QStringList &recent)
{
    const quint64 request = ++m_nextRequest;
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, request, query, recent] {
        worker->quickOpen(request, query, recent);
    }, Qt::QueuedConnection);
    return request;
}

void SearchIndex::noteChanged(const QString &path)
{
    QMetaObject::invokeMethod(m_worker, [worker = m_worker, path] { worker->noteChanged(path); },
                              Qt::QueuedConnection);
}

} // namespace quorvel::vault
