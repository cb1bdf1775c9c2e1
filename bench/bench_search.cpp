// How fast the vault's full-text index is made and answers, on the machine's own documentation
// cut into notes. Prints figures; fails nothing. See README.md.

#include "vault/searchindex.h"
#include "vault/vaultindex.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using quorvel::vault::SearchHit;
using quorvel::vault::SearchIndex;
using quorvel::vault::VaultIndex;

namespace {

constexpr int kNotes = 50'000;
constexpr int kPerFolder = 500;

// Kilobytes of the process's resident memory: now, and at its peak.
std::pair<qint64, qint64> memory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    qint64 now = 0, peak = 0;
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            const auto value = [&line] { return line.simplified().split(' ').value(1).toLongLong(); };
            if (line.startsWith("VmRSS:"))
                now = value();
            else if (line.startsWith("VmHWM:"))
                peak = value();
        }
    }
    return {now, peak};
}

// The documentation's text files, those without a NUL byte, one after another.
QByteArray documentation(qint64 wanted)
{
    QByteArray all;
    QDirIterator it(QStringLiteral("/usr/share/doc"), QDir::Files | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext() && all.size() < wanted) {
        const QString path = it.next();
        if (path.endsWith(u".gz") || path.endsWith(u".png") || path.endsWith(u".jpg"))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.read(4 * 1024 * 1024);
        if (bytes.contains('\0'))
            continue;
        all += bytes;
        all += '\n';
    }
    return all;
}

// The text cut into notes at line ends, each with a title, a hundred folders of them.
qint64 writeVault(const QString &root, const QByteArray &text)
{
    QDir().mkpath(root + QStringLiteral("/.obsidian"));
    const qint64 share = text.size() / kNotes;
    qint64 at = 0;
    qint64 bytes = 0;
    for (int i = 0; i < kNotes; ++i) {
        const QString folder = root + QStringLiteral("/f%1").arg(i / kPerFolder, 3, 10, QLatin1Char('0'));
        if (i % kPerFolder == 0)
            QDir().mkpath(folder);
        qint64 end = qMin<qint64>(text.size(), at + share);
        const qint64 newline = text.indexOf('\n', end);
        end = newline < 0 ? text.size() : newline + 1;
        QByteArray note = "# Note " + QByteArray::number(i) + "\n\n" + text.mid(at, end - at);
        if (i % 50 == 0)
            note += "\nSee [[note " + QByteArray::number(i + 1) + "]].\n";
        at = end >= text.size() ? 0 : end;
        QFile file(folder + QStringLiteral("/note %1.md").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the vault");
        file.write(note);
        bytes += note.size();
    }
    return bytes;
}

// Seconds of processor time the process spent so far: in its own code, and in the kernel's.
std::pair<double, double> processorTime()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return {toSeconds(usage.ru_utime), toSeconds(usage.ru_stime)};
}

double seconds(qint64 ns)
{
    return double(ns) / 1e9;
}

QList<SearchHit> searchNow(SearchIndex &index, const QString &query, qint64 *ns = nullptr)
{
    QSignalSpy spy(&index, &SearchIndex::searched);
    QElapsedTimer clock;
    clock.start();
    const quint64 request = index.search(query);
    while (spy.isEmpty() || spy.last().at(0).toULongLong() != request)
        spy.wait(10000);
    if (ns)
        *ns = clock.nsecsElapsed();
    return spy.last().at(1).value<QList<SearchHit>>();
}

// The longest the main thread's event loop went without running a timer due every millisecond:
// how long the window would have waited.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 gap = m_clock.restart();
            if (gap > 50)
                ++m_over50;
            if (gap > m_longest) {
                m_longest = gap;
                m_when = m_since.elapsed();
            }
        });
        m_clock.start();
        m_since.start();
        m_timer.start();
    }
    qint64 longestMs() const { return m_longest; }
    // Waits longer than the target: one is the machine's other work as often as the index.
    int over50() const { return m_over50; }
    // When it ended, from the start.
    qint64 whenMs() const { return m_when; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    qint64 m_when = 0;
    int m_over50 = 0;
};

// The longest wait of the main thread over two seconds with no index at all: what the machine's
// other work costs it.
qint64 waitsWithoutIndex()
{
    StallMeter stalls;
    QTest::qWait(2000);
    return stalls.longestMs();
}

// How many waits of the main thread were longer than the target, and in how many seconds.
QByteArray waitsOver50(const StallMeter &stalls, qint64 ns)
{
    return QByteArray::number(stalls.over50()) + " waits over 50 ms in " + QByteArray::number(ns / 1e9, 'f', 1)
        + " s";
}

// Until the index has nothing left to read.
qint64 indexed(SearchIndex &index)
{
    QElapsedTimer clock;
    clock.start();
    QSignalSpy idle(&index, &SearchIndex::becameIdle);
    while (!index.idle())
        idle.wait(60'000);
    return clock.nsecsElapsed();
}

// Restarts the count of the process's peak resident memory.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// One note of 50 MB, a word only at its end.
void largeNote()
{
    QTemporaryDir scratch;
    const QString root = scratch.filePath(QStringLiteral("vault"));
    QDir().mkpath(root + QStringLiteral("/.obsidian"));
    QByteArray text = documentation(50 * 1024 * 1024);
    while (text.size() < 50 * 1024 * 1024)
        text += text.left(50 * 1024 * 1024 - text.size());
    {
        QFile file(root + QStringLiteral("/large.md"));
        if (!file.open(QIODevice::WriteOnly) || file.write(text + "\nzyzzogeton\n") < 0)
            qFatal("cannot write the note");
    }
    text.clear();
    text.squeeze();
    resetPeak();
    const auto [before, unused] = memory();
    SearchIndex index(root, scratch.filePath(QStringLiteral("cache/index.sqlite")));
    const qint64 ns = indexed(index);
    const auto [after, peak] = memory();
    qint64 queryNs = 0;
    const bool found = !searchNow(index, QStringLiteral("zyzzogeton"), &queryNs).isEmpty();
    std::printf("a 50 MB note: indexed in %.2f s; its last word %s (%.1f ms); memory beyond the"
                " program %.1f MB at the peak (target <= 50)\n",
                seconds(ns), found ? "found" : "NOT FOUND", queryNs / 1e6, (peak - before) / 1024.0);
}

// A hundred thousand tiny notes in two hundred folders.
void manyNotes()
{
    constexpr int kMany = 100'000;
    QTemporaryDir scratch;
    const QString root = scratch.filePath(QStringLiteral("vault"));
    QDir().mkpath(root + QStringLiteral("/.obsidian"));
    for (int i = 0; i < kMany; ++i) {
        const QString folder = root + QStringLiteral("/f%1").arg(i / kPerFolder, 3, 10, QLatin1Char('0'));
        if (i % kPerFolder == 0)
            QDir().mkpath(folder);
        QFile file(folder + QStringLiteral("/tiny %1.md").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the vault");
        file.write("# Tiny " + QByteArray::number(i) + "\n\nword" + QByteArray::number(i % 1000)
                   + " common [[tiny " + QByteArray::number((i + 1) % kMany) + "]]\n");
    }
    // The window's index of names, which it makes to follow links, is there before.
    VaultIndex::index(root + QStringLiteral("/_")).files();
    resetPeak();
    const auto [before, unused] = memory();
    StallMeter stalls;
    const auto [userBefore, systemBefore] = processorTime();
    SearchIndex index(root, scratch.filePath(QStringLiteral("cache/index.sqlite")));
    // A note saved by the program a second into the first index: it goes ahead of the notes
    // waiting.
    QTest::qWait(1000);
    const bool stillIndexing = !index.idle();
    QElapsedTimer saved;
    {
        QFile file(root + QStringLiteral("/f000/saved meanwhile.md"));
        saved.start();
        if (!file.open(QIODevice::WriteOnly) || file.write("# Saved\n\nzebracorn\n") < 0)
            qFatal("cannot write the note");
    }
    index.noteChanged(root + QStringLiteral("/f000/saved meanwhile.md"));
    while (searchNow(index, QStringLiteral("zebracorn")).isEmpty())
        QTest::qWait(5);
    const qint64 savedNs = saved.nsecsElapsed();
    const qint64 ns = indexed(index) + 1'000'000'000 + savedNs;
    const auto [userAfter, systemAfter] = processorTime();
    const auto [after, peak] = memory();
    std::printf("100,000 tiny notes: a note saved a second in%s, found %.0f ms after the write (target <= 1000 ms)\n",
                stillIndexing ? " (while indexing)" : " (AFTER indexing ended)", savedNs / 1e6);
    std::printf("100,000 tiny notes: processor time user %.2f s, system %.2f s\n", userAfter - userBefore,
                systemAfter - systemBefore);
    std::printf("100,000 tiny notes: indexed in %.2f s; memory beyond the program %.1f MB at the"
                " peak; the main thread's longest wait %lld ms, %.2f s in, %s (target <= 50; %lld ms with no"
                " index)\n",
                seconds(ns), (peak - before) / 1024.0, stalls.longestMs(), stalls.whenMs() / 1e3,
                waitsOver50(stalls, ns).constData(), waitsWithoutIndex());
    for (const QString &query : {QStringLiteral("word42"), QStringLiteral("common"), QStringLiteral("tiny 99999")}) {
        qint64 queryNs = 0;
        searchNow(index, query, &queryNs);
        searchNow(index, query, &queryNs);
        std::printf("  %-36s %6.1f ms\n", qPrintable(query), queryNs / 1e6);
    }
}

void documentationVault()
{
    QTemporaryDir scratch;
    // A vault kept between runs (BENCH_SEARCH_VAULT names its folder) spares writing it again.
    const QString kept = qEnvironmentVariable("BENCH_SEARCH_VAULT");
    const QString root = kept.isEmpty() ? scratch.filePath(QStringLiteral("vault")) : kept;
    const QString database = scratch.filePath(QStringLiteral("cache/index.sqlite"));

    if (kept.isEmpty() || !QFileInfo::exists(root + QStringLiteral("/f000"))) {
        const QByteArray text = documentation(200 * 1024 * 1024);
        const qint64 bytes = writeVault(root, text);
        std::printf("vault: %d notes, %.1f MB, from %.1f MB of /usr/share/doc text\n", kNotes,
                    bytes / 1e6, text.size() / 1e6);
    }

    // grep reads every file once, as the first index must; both from the page cache.
    QElapsedTimer clock;
    clock.start();
    QProcess::execute(QStringLiteral("grep"), {QStringLiteral("-r"), QStringLiteral("-q"),
                                               QStringLiteral("zqxjzqxjnotthere"), root});
    const qint64 grepNs = clock.nsecsElapsed();

    VaultIndex::index(root + QStringLiteral("/_")).files();
    resetPeak();
    const auto [before, beforePeak] = memory();
    qint64 indexNs = 0;
    {
        const auto [userBefore, systemBefore] = processorTime();
        StallMeter stalls;
        SearchIndex index(root, database);
        indexNs = indexed(index);
        const auto [after, peak] = memory();
        std::printf("first index: %.2f s; grep -r over the same folder: %.2f s; ratio %.2f (target <= 1.5)\n",
                    seconds(indexNs), seconds(grepNs), double(indexNs) / double(grepNs));
        const auto [userAfter, systemAfter] = processorTime();
        std::printf("processor time while indexing: user %.2f s, system %.2f s\n",
                    userAfter - userBefore, systemAfter - systemBefore);
        std::printf("the main thread's longest wait while indexing: %lld ms, ending %.2f s in; %s (target <= 50;"
                    " %lld ms with no index)\n",
                    stalls.longestMs(), stalls.whenMs() / 1e3, waitsOver50(stalls, indexNs).constData(),
                    waitsWithoutIndex());
        std::printf("database: %.1f MB (and its log %.1f MB)\n", QFileInfo(database).size() / 1e6,
                    QFileInfo(database + QStringLiteral("-wal")).size() / 1e6);
        std::printf("memory beyond the program: %.1f MB resident after indexing, %.1f MB at the peak"
                    " (target <= 50)\n",
                    (after - before) / 1024.0, (peak - before) / 1024.0);

        const QStringList queries{
            QStringLiteral("license"), QStringLiteral("copyright holder"),
            QStringLiteral("\"GNU General Public License\""), QStringLiteral("debian -ubuntu"),
            QStringLiteral("config*"), QStringLiteral("kernel module"), QStringLiteral("note 4242"),
            QStringLiteral("python"), QStringLiteral("zzzz"), QStringLiteral("the"),
            QStringLiteral("warranty merchantability"), QStringLiteral("ch*"),
        };
        std::vector<qint64> times;
        for (int round = 0; round < 5; ++round) {
            for (const QString &query : queries) {
                qint64 ns = 0;
                searchNow(index, query, &ns);
                times.push_back(ns);
                if (round == 4)
                    std::printf("  %-36s %6.1f ms\n", qPrintable(query), ns / 1e6);
            }
        }
        std::sort(times.begin(), times.end());
        std::printf("query: median %.1f ms, 90th percentile %.1f ms, slowest %.1f ms (target <= 30 ms)\n",
                    times[times.size() / 2] / 1e6, times[times.size() * 9 / 10] / 1e6, times.back() / 1e6);

        // One letter before the star: the words it stands for are a good part of the index.
        for (const QString &query : {QStringLiteral("c*"), QStringLiteral("s*")}) {
            qint64 ns = 0;
            const qsizetype found = searchNow(index, query, &ns).size();
            std::printf("  one letter: %-24s %6.1f ms, %lld hits (not in the median)\n", qPrintable(query),
                        ns / 1e6, qint64(found));
        }

        // A save the program reports, and a write by another program seen by the folder watcher.
        for (const bool reported : {true, false}) {
            const QString word = reported ? QStringLiteral("xylophonic") : QStringLiteral("quixotical");
            const QString path = root + QStringLiteral("/f007/note 3500.md");
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            clock.restart();
            file.write("# Saved\n\n" + word.toUtf8() + " words\n");
            file.close();
            if (reported)
                index.noteChanged(path);
            while (searchNow(index, word).isEmpty())
                QTest::qWait(5);
            std::printf("%s: found %.0f ms after the write (target <= 1000 ms)\n",
                        reported ? "saved by the program" : "written by another program",
                        clock.nsecsElapsed() / 1e6);
        }
        const auto [end, endPeak] = memory();
        std::printf("memory at the end: %.1f MB beyond the program\n", (end - before) / 1024.0);
    }
    // Opened again: only what changed is read.
    clock.restart();
    SearchIndex again(root, database);
    QSignalSpy idle(&again, &SearchIndex::becameIdle);
    while (!again.idle())
        idle.wait(60'000);
    std::printf("opened again, nothing changed: %.2f s\n", seconds(clock.nsecsElapsed()));
}

} // namespace

// Parts by name ("documentation", "large", "many"); all of them when none is named.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<QList<SearchHit>>();
    const QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty() || parts.contains(QStringLiteral("documentation")))
        documentationVault();
    if (parts.isEmpty() || parts.contains(QStringLiteral("large")))
        largeNote();
    if (parts.isEmpty() || parts.contains(QStringLiteral("many")))
        manyNotes();
    return 0;
}
