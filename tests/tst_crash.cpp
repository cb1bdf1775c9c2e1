#include "crashversions.h"
#include "modelharness.h"

#include <QProcess>
#include <QTest>

#include <random>
#include <thread>

#include <csignal>
#include <sys/file.h>

namespace {

QStringList besideTheNote(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    names.removeOne(QStringLiteral("note.md"));
    names.sort();
    return names;
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedSavesLeaveOneWholeVersion();
    void nextSaveRemovesOnlyAbandonedCopies();
};

// A saver killed at random moments, over and over: the file is always exactly one version it
// wrote, never older than the last one seen, and at most the copy in flight lies beside it.
void TestCrash::killedSavesLeaveOneWholeVersion()
{
    constexpr int kKills = 250;
    ScratchEnvironment scratch;
    const QString folder = scratch.path(QStringLiteral("notes"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = scratch.write(QStringLiteral("notes/note.md"), crashVersion(0));
    std::mt19937 random(20261207);
    int onDisk = 0;
    int leftCopies = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        QProcess saver;
        saver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        saver.start(QStringLiteral(QUORVEL_CRASH_SAVER),
                    {path, scratch.path(QStringLiteral("settings.conf")),
                     QString::number(onDisk + 1)});
        QVERIFY(saver.waitForReadyRead(30'000));
        // The kill moment, not a wait for something: anywhere within the next few saves.
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 15'000));
        QCOMPARE(::kill(pid_t(saver.processId()), SIGKILL), 0);
        QVERIFY(saver.waitForFinished(30'000));
        QCOMPARE(saver.exitStatus(), QProcess::CrashExit);

        const QByteArray bytes = ScratchEnvironment::read(path);
        const int version = crashVersionNumber(bytes);
        QVERIFY2(version >= onDisk, qPrintable(QStringLiteral("kill %1: version %2 after %3")
                                                    .arg(kill).arg(version).arg(onDisk)));
        QCOMPARE(bytes, crashVersion(version));
        onDisk = version;
        const QStringList others = besideTheNote(folder);
        QVERIFY2(others.size() <= 1, qPrintable(others.join(u' ')));
        leftCopies += int(others.size());
    }
    qInfo("%d kills: %d versions saved, %d kills left the copy in flight behind", kKills, onDisk,
          leftCopies);

    const auto text = std::move(DocumentText::open(path)).value();
    DocumentFile document(*text, path, scratch.clock);
    text->replaceAll(QString::fromLatin1(crashVersion(onDisk + 1)), EditOrigin::SourceEditor);
    document.updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(path), crashVersion(onDisk + 1));
    QCOMPARE(besideTheNote(folder), QStringList());
}

// What a killed save leaves is removed by the next save; a copy another save holds, or a file
// merely looking alike, stays.
void TestCrash::nextSaveRemovesOnlyAbandonedCopies()
{
    ScratchEnvironment scratch;
    const QString folder = scratch.path(QStringLiteral("notes"));
    QVERIFY(QDir().mkdir(folder));
    const QString path = scratch.write(QStringLiteral("notes/note.md"), "old\n");
    scratch.write(QStringLiteral("notes/.note.md.abandon~"), "left by a killed save");
    scratch.write(QStringLiteral("notes/.note.md.k3p0~"), "being written by another save");
    const QStringList kept{QStringLiteral(".note.md.Not-A-Copy~"), QStringLiteral(".note.md.old"),
                           QStringLiteral(".other.md.abc~"), QStringLiteral("note.md.abc~")};
    for (const QString &name : kept)
        scratch.write(QStringLiteral("notes/") + name, "mine");
    QFile held(scratch.path(QStringLiteral("notes/.note.md.k3p0~")));
    QVERIFY(held.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(held.handle(), LOCK_EX | LOCK_NB), 0);

    const auto text = std::move(DocumentText::open(path)).value();
    DocumentFile document(*text, path, scratch.clock);
    text->replaceAll(QStringLiteral("new\n"), EditOrigin::SourceEditor);
    document.updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(path), QByteArray("new\n"));
    QStringList expected = kept + QStringList{QStringLiteral(".note.md.k3p0~")};
    expected.sort();
    QCOMPARE(besideTheNote(folder), expected);
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
