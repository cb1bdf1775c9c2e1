// How fast the vault index is built and answers, on a generated vault. See README.md.

#include "vaultprobe.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using quorvel::vault::VaultIndex;
using quorvel::vault::VaultIndexProbe;

namespace {

constexpr int kTop = 20;
constexpr int kMiddle = 9; // per top folder
constexpr int kLeaves = 10; // per middle folder
constexpr int kFolders = kTop + kTop * kMiddle + kTop * kMiddle * kLeaves; // 2 000
constexpr int kFilesPerFolder = 25; // 50 000 in all
constexpr int kRuns = 7;
constexpr int kLookups = 20'000;

void touch(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
}

// Every folder holds the same number of files, a few of them hidden; one leaf in fifty is a
// folder the index skips, with its files.
QStringList generate(const QString &root)
{
    QStringList folders;
    QSet<QString> skippedFolders;
    for (int t = 0; t < kTop; ++t) {
        const QString top = QStringLiteral("%1/Area %2").arg(root).arg(t);
        folders << top;
        for (int m = 0; m < kMiddle; ++m) {
            const QString middle = QStringLiteral("%1/Project %2").arg(top).arg(m);
            folders << middle;
            for (int l = 0; l < kLeaves; ++l) {
                const int leaf = (t * kMiddle + m) * kLeaves + l;
                static const char *const odd[] = {"node_modules", "build", ".git", "dist"};
                if (leaf % 50 == 7) {
                    folders << middle + u'/' + QLatin1String(odd[leaf / 50 % 4]);
                    skippedFolders << folders.last();
                } else {
                    folders << QStringLiteral("%1/Topic %2").arg(middle).arg(l);
                }
            }
        }
    }
    Q_ASSERT(folders.size() == kFolders);
    QStringList names; // of notes the index knows
    QDir().mkpath(root + QStringLiteral("/.obsidian"));
    for (int f = 0; f < folders.size(); ++f) {
        QDir().mkpath(folders[f]);
        for (int i = 0; i < kFilesPerFolder; ++i) {
            const QString name = i == 0   ? QStringLiteral(".hidden %1").arg(f)
                : i == 1                  ? QStringLiteral("index.md")
                : i == 2                  ? QStringLiteral("picture %1-%2.png").arg(f).arg(i)
                                          : QStringLiteral("Note %1-%2.md").arg(f).arg(i);
            touch(folders[f] + u'/' + name);
            if (i >= 3 && !skippedFolders.contains(folders[f]))
                names << QStringLiteral("note %1-%2").arg(f).arg(i);
        }
    }
    return names;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timeFind(const QString &root)
{
    QElapsedTimer timer;
    timer.start();
    QProcess find;
    find.start(QStringLiteral("find"), {root, QStringLiteral("-type"), QStringLiteral("f")});
    qint64 bytes = 0;
    while (find.waitForReadyRead(-1))
        bytes += find.readAllStandardOutput().size();
    find.waitForFinished(-1);
    bytes += find.readAllStandardOutput().size();
    const double ms = timer.nsecsElapsed() / 1e6;
    if (find.exitCode() != 0 || bytes == 0)
        qFatal("find failed");
    return ms;
}

double timeBuild(const QString &root)
{
    const auto index = VaultIndexProbe::fresh(root);
    QElapsedTimer timer;
    timer.start();
    VaultIndexProbe::build(*index);
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString root = dir.path();
    std::printf("generating %d files in %d folders under %s\n", kFolders * kFilesPerFolder,
                kFolders, qPrintable(root));
    const QStringList names = generate(root);

    timeFind(root); // both read a warm cache, as for a vault in use
    timeBuild(root);
    std::vector<double> find, build;
    for (int run = 0; run < kRuns; ++run) {
        find.push_back(timeFind(root));
        build.push_back(timeBuild(root));
    }
    const double findMs = median(find);
    const double buildMs = median(build);
    std::printf("find -type f: %.1f ms   build: %.1f ms   build/find: %.2f (target <= 1.3)\n",
                findMs, buildMs, buildMs / findMs);

    VaultIndex &index = VaultIndex::index(root + QStringLiteral("/Home.md"));
    const QString source = root + QStringLiteral("/Area 3/Project 4/Topic 5/Note 0-3.md");
    index.resolve(names.first(), source); // the first lookup builds
    std::vector<double> perCall;
    perCall.reserve(kLookups);
    QElapsedTimer timer;
    int found = 0;
    for (int i = 0; i < kLookups; ++i) {
        const QString &name = names[(i * 7919) % names.size()];
        timer.start();
        found += index.resolve(name, source).has_value();
        perCall.push_back(timer.nsecsElapsed() / 1e3);
    }
    if (found != kLookups)
        qFatal("%d of %d names not found", kLookups - found, kLookups);
    std::printf("resolve of a bare name: %.2f us per call, median of %d (target <= 5)\n",
                median(perCall), kLookups);
    return 0;
}
