#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// `--selftest` as CI runs it: the real program in a process of its own, with no display, on a
// scratch copy of a sample note, with settings and temporary files in a folder of the test's.
class TestSelfTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void aPassingRunPrintsOnlyOkLinesAndLeavesNothingBehind();
    void aRunThatCannotSucceedEndsWithItsStatus_data();
    void aRunThatCannotSucceedEndsWithItsStatus();

private:
    struct Run
    {
        int status = -1;
        QStringList lines; // standard error
    };
    Run run(const QString &file, const QProcessEnvironment &extra = {});
    QString path(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSelfTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QFile::copy(QStringLiteral(QUORVEL_SAMPLE_NOTE), path(u"note.md"_s)));
    QFile(path(u"note.md"_s)).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString &folder : {u"config"_s, u"tmp"_s, u"empty"_s})
        QVERIFY(QDir(m_dir->path()).mkpath(folder));
}

TestSelfTest::Run TestSelfTest::run(const QString &file, const QProcessEnvironment &extra)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QUORVEL_DEBUG"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir->path());
    env.insert(u"TMPDIR"_s, path(u"tmp"_s));
    for (const QString &key : extra.keys())
        env.insert(key, extra.value(key));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUORVEL_EXECUTABLE), {u"--selftest"_s, file});
    // The run bounds itself at a minute; anything longer is a hang, and a failure.
    if (!process.waitForFinished(120'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    const QString err = QString::fromUtf8(process.readAllStandardError());
    return {process.exitCode(), err.split(u'\n', Qt::SkipEmptyParts)};
}

void TestSelfTest::aPassingRunPrintsOnlyOkLinesAndLeavesNothingBehind()
{
    // A user's settings, which a run reads (the theme new files start from) and must not change;
    // automatic reloading would hide the banner that the run checks for.
    const QByteArray settings = "[General]\nautoReload=true\nlastMode=split\ntheme=sepia\n";
    QVERIFY(QDir(path(u"config"_s)).mkpath(u"Quorvel"_s));
    QFile user(path(u"config/Quorvel/Quorvel.conf"_s));
    QVERIFY(user.open(QIODevice::WriteOnly));
    user.write(settings);
    user.close();

    const Run result = run(path(u"note.md"_s));
    QVERIFY2(!result.lines.isEmpty(), "no output, or the run did not end");
    QCOMPARE(result.lines.last(), u"SELF-TEST OK"_s);
    for (const QString &line : result.lines.first(result.lines.size() - 1))
        QVERIFY2(line.startsWith(u"ok "_s), qPrintable(line));
    QCOMPARE(result.status, 0);
    // Every phase ran: the typing of both modes and the other program's lines reached the file.
    QFile note(path(u"note.md"_s));
    QVERIFY(note.open(QIODevice::ReadOnly));
    const QByteArray text = note.readAll();
    QVERIFY(text.contains(QByteArray(18, 'x')));
    QVERIFY(text.contains(QByteArray(12, 'y')));
    QVERIFY(text.contains("Added by another program, step 2."));
    // The scratch stores and files are gone, and the user's settings are as they were: no mode,
    // recent document, theme memory or rotation place of the run's.
    QVERIFY(!QFile::exists(path(u"config/Quorvel/Quorvel.selftest.conf"_s)));
    QVERIFY(QDir(path(u"tmp"_s)).entryList({u"quorvel-selftest-*"_s}, QDir::AllEntries).isEmpty());
    QVERIFY(user.open(QIODevice::ReadOnly));
    QCOMPARE(user.readAll(), settings);
}

void TestSelfTest::aRunThatCannotSucceedEndsWithItsStatus_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("webDir");  // empty: the real page
    QTest::addColumn<QString>("timeout"); // seconds; empty: the real one
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("lastLine"); // its beginning
    QTest::addColumn<bool>("typed");       // the source phase ran
    QTest::newRow("missing-file")
        << u"gone.md"_s << QString() << QString() << 1 << u"cannot open: "_s << false;
    QTest::newRow("folder")
        << u"empty"_s << QString() << QString() << 1 << u"cannot open: "_s << false;
    // Ends whatever it was doing, passing checks or not.
    QTest::newRow("slower-than-its-time-out")
        << u"note.md"_s << QString() << u"4"_s << 3 << u"timed out"_s << false;
    // Without its page the window still types in source mode and reloads; only the checks that
    // ask the page fail, and the run ends in its own time rather than at the time-out.
    QTest::newRow("page-never-loads")
        << u"note.md"_s << u"empty"_s << QString() << 2 << u"SELF-TEST: "_s << true;
}

void TestSelfTest::aRunThatCannotSucceedEndsWithItsStatus()
{
    QFETCH(QString, file);
    QFETCH(QString, webDir);
    QFETCH(QString, timeout);
    QFETCH(int, status);
    QFETCH(QString, lastLine);
    QFETCH(bool, typed);
    QProcessEnvironment extra;
    if (!webDir.isEmpty())
        extra.insert(u"QUORVEL_WEB_DIR"_s, path(webDir));
    if (!timeout.isEmpty())
        extra.insert(u"QUORVEL_SELFTEST_TIMEOUT"_s, timeout);
    const Run result = run(path(file), extra);
    QVERIFY2(!result.lines.isEmpty(), "no output, or the run did not end");
    QVERIFY2(result.lines.last().startsWith(lastLine), qPrintable(result.lines.last()));
    QCOMPARE(result.status, status);
    QCOMPARE(result.lines.contains(u"ok source: the 18 typed characters are on disk"_s), typed);
    QCOMPARE(result.lines.count(u"timed out"_s), status == 3 ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestSelfTest)
#include "tst_selftest.moc"
