#include "app/commandline.h"
#include "app/singleinstance.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace Qt::StringLiterals;

namespace {
// A one-pixel PNG.
const QByteArray kPng =
    QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR4"
                           "2mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==");
} // namespace

// The command line as a user or a script meets it: the real program, in a process of its own,
// with no display and no platform chosen for it.
class TestHeadless : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void exportEndsWithItsStatusAndMessage_data();
    void exportEndsWithItsStatusAndMessage();
    void exportWritesEachFormat_data();
    void exportWritesEachFormat();
    void exportLeavesTheEarlierFileWholeOnAFullDisk_data();
    void exportLeavesTheEarlierFileWholeOnAFullDisk();
    void exportCopiesInOnlyImagesBesideTheNote_data();
    void exportCopiesInOnlyImagesBesideTheNote();
    void optionsAnswerAsCommandLineToolsDo_data();
    void optionsAnswerAsCommandLineToolsDo();
    void commandLineChoosesTheMode_data();
    void commandLineChoosesTheMode();
    void aSecondStartHandsItsFileToTheRunningOne();
    void instanceSocketIsPrivateAndPerDisplay_data();
    void instanceSocketIsPrivateAndPerDisplay();

private:
    struct Run
    {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };
    Run run(const QStringList &args, const QProcessEnvironment &extra = {});
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void write(const QString &name, const QByteArray &bytes);
    static QByteArray readFile(const QString &path);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHeadless::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    write(u"note.md"_s, "# Heading\n\nSome *text* and a [link][r].\n\n<!-- kept -->\n\n"
                        "[r]: https://example.com\n\nSee [[Other]].\n");
    write(u"Other.md"_s, "# Other\n");
}

void TestHeadless::write(const QString &name, const QByteArray &bytes)
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray TestHeadless::readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

TestHeadless::Run TestHeadless::run(const QStringList &args, const QProcessEnvironment &extra)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
    env.insert(u"XDG_RUNTIME_DIR"_s, m_dir->path());
    for (const QString &key : extra.keys())
        env.insert(key, extra.value(key));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(m_dir->path());
    process.start(QStringLiteral(QUORVEL_EXECUTABLE), args);
    // Bounded by the export's own time-out; a hang here is a failure, not a wait.
    if (!process.waitForFinished(90'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

void TestHeadless::exportEndsWithItsStatusAndMessage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("webDir");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message"); // "%1" is the scratch folder
    QTest::newRow("format-is-case-sensitive")
        << QStringList{u"HTML"_s, u"note.md"_s, u"out.html"_s} << QString() << 1
        << u"Quorvel: unknown format HTML (pdf|html|md)\n"_s;
    QTest::newRow("missing-input")
        << QStringList{u"html"_s, u"gone.md"_s, u"out.html"_s} << QString() << 1
        << u"Quorvel: cannot read %1/gone.md: No such file or directory\n"_s;
    QTest::newRow("not-utf8") << QStringList{u"md"_s, u"latin1.md"_s, u"out.md"_s} << QString()
                              << 1 << u"Quorvel: cannot read %1/latin1.md: not UTF-8 text\n"_s;
    QTest::newRow("input-is-a-folder")
        << QStringList{u"md"_s, u"config"_s, u"out.md"_s} << QString() << 1
        << u"Quorvel: cannot read %1/config: not a regular file\n"_s;
    // Special files are refused before a byte is read: a FIFO hung the export, /dev/zero
    // took gigabytes.
    QTest::newRow("input-is-a-fifo")
        << QStringList{u"md"_s, u"fifo"_s, u"out.md"_s} << QString() << 1
        << u"Quorvel: cannot read %1/fifo: not a regular file\n"_s;
    QTest::newRow("input-is-a-device")
        << QStringList{u"md"_s, u"zero"_s, u"out.md"_s} << QString() << 1
        << u"Quorvel: cannot read %1/zero: not a regular file\n"_s;
    QTest::newRow("input-over-the-limit")
        << QStringList{u"md"_s, u"huge.md"_s, u"out.md"_s} << QString() << 1
        << u"Quorvel: cannot read %1/huge.md: larger than 64 MB\n"_s;
    QTest::newRow("output-is-the-input")
        << QStringList{u"md"_s, u"note.md"_s, u"note.md"_s} << QString() << 1
        << u"Quorvel: cannot write %1/note.md: it is the input\n"_s;
    QTest::newRow("output-links-to-the-input")
        << QStringList{u"html"_s, u"note.md"_s, u"link.html"_s} << QString() << 1
        << u"Quorvel: cannot write %1/link.html: it is the input\n"_s;
    QTest::newRow("output-is-a-fifo")
        << QStringList{u"pdf"_s, u"note.md"_s, u"fifo"_s} << QString() << 1
        << u"Quorvel: cannot write %1/fifo: not a regular file\n"_s;
    QTest::newRow("output-is-a-device")
        << QStringList{u"html"_s, u"note.md"_s, u"null"_s} << QString() << 1
        << u"Quorvel: cannot write %1/null: not a regular file\n"_s;
    QTest::newRow("output-is-a-socket")
        << QStringList{u"md"_s, u"note.md"_s, u"socket"_s} << QString() << 1
        << u"Quorvel: cannot write %1/socket: not a regular file\n"_s;
    QTest::newRow("missing-output-folder")
        << QStringList{u"pdf"_s, u"note.md"_s, u"no/out.pdf"_s} << QString() << 1
        << u"Quorvel: cannot write %1/no/out.pdf: no such folder\n"_s;
    QTest::newRow("output-is-a-folder")
        << QStringList{u"html"_s, u"note.md"_s, u"config"_s} << QString() << 1
        << u"Quorvel: cannot write %1/config: it is a folder\n"_s;
    QTest::newRow("page-never-renders")
        << QStringList{u"html"_s, u"note.md"_s, u"out.html"_s} << u"empty"_s << 3
        << u"Quorvel: timed out, rendering did not finish\n"_s;
}

void TestHeadless::exportEndsWithItsStatusAndMessage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, webDir);
    QFETCH(int, status);
    QFETCH(QString, message);
    write(u"latin1.md"_s, "caf\xe9\n");
    QDir(m_dir->path()).mkpath(u"config"_s);
    QDir(m_dir->path()).mkpath(u"empty"_s);
    QVERIFY(::mkfifo(QFile::encodeName(path(u"fifo"_s)).constData(), 0600) == 0);
    QVERIFY(QFile::link(path(u"note.md"_s), path(u"link.html"_s)));
    write(u"huge.md"_s, "# Huge\n");
    QVERIFY(QFile::resize(path(u"huge.md"_s), 65 * 1024 * 1024)); // sparse: no disk taken
    QLocalServer socket;
    QVERIFY(socket.listen(path(u"socket"_s)));
    for (const auto &[name, minor] : {std::pair{"zero", 5}, std::pair{"null", 3}}) {
        const QString device = path(QString::fromLatin1(name));
        if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, minor)) != 0
            && args.contains(QString::fromLatin1(name)))
            QSKIP("making a device node needs root");
    }
    const QString out = path(args.last());
    const QFileInfo before(out);
    const QByteArray earlier = before.isFile() ? QByteArray(readFile(out)) : QByteArray();
    QProcessEnvironment extra;
    if (!webDir.isEmpty()) {
        extra.insert(u"QUORVEL_WEB_DIR"_s, path(webDir));
        extra.insert(u"QUORVEL_EXPORT_TIMEOUT"_s, u"3"_s);
    }
    const Run result = run(QStringList{u"--export"_s} + args, extra);
    QCOMPARE(result.status, status);
    QCOMPARE(QString::fromUtf8(result.err), message.arg(QDir(m_dir->path()).canonicalPath()));
    QVERIFY(result.out.isEmpty());
    // Nothing was written: whatever stood at the output stands as it was.
    const QFileInfo after(out);
    QCOMPARE(after.exists(), before.exists());
    QCOMPARE(after.isFile(), before.isFile());
    if (before.isFile())
        QCOMPARE(readFile(out), earlier);
}

void TestHeadless::exportWritesEachFormat_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("expected"); // what the output must hold
    QTest::addColumn<bool>("earlier");        // an earlier file is written over
    QTest::addColumn<int>("mode");            // the earlier file's, kept; 0: as a new file's
    // The wikilink resolved: its answer comes from a thread of its own, after the render.
    QTest::newRow("html") << u"html"_s << QByteArray("Other.md\">Other</a>") << true << 0;
    QTest::newRow("pdf") << u"pdf"_s << QByteArray("%PDF-") << true << 0;
    QTest::newRow("pdf-new-file") << u"pdf"_s << QByteArray("%PDF-") << false << 0;
    QTest::newRow("pdf-over-a-private-file") << u"pdf"_s << QByteArray("%PDF-") << true << 0600;
    // The page's Markdown keeps what it cannot show as written.
    QTest::newRow("md") << u"md"_s
                        << QByteArray("# Heading\n\nSome *text* and a [link](https://example.com).\n"
                                      "\n<!-- kept -->\n\n[r]: https://example.com\n\nSee [[Other]].\n")
                        << true << 0;
}

void TestHeadless::exportWritesEachFormat()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, expected);
    QFETCH(bool, earlier);
    QFETCH(int, mode);
    const QString out = (earlier ? u"out."_s : u"new."_s) + format;
    if (earlier)
        write(out, "an earlier file");
    if (mode)
        QVERIFY(::chmod(QFile::encodeName(path(out)).constData(), mode_t(mode)) == 0);
    const Run result = run({u"--export"_s, format, u"note.md"_s, out});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.err, QByteArray());
    QFile file(path(out));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    if (format == u"md")
        QCOMPARE(written, expected);
    else
        QVERIFY2(written.contains(expected), written.left(200).constData());
    // An HTML file stands alone: its fonts inside it, no address of this machine's files.
    if (format == u"html") {
        QVERIFY(written.contains("url(data:font/woff2;base64,"));
        QVERIFY(!written.contains("url(fonts/"));
        QVERIFY(!written.contains("file:"));
    }
    // Readable as any file the user makes (the engine wrote PDFs for their owner alone), and an
    // earlier file's permissions are kept, never widened.
    write(u"fresh"_s, "x");
    if (mode) {
        struct stat info{};
        QVERIFY(::stat(QFile::encodeName(path(out)).constData(), &info) == 0);
        QCOMPARE(int(info.st_mode & 07777), mode);
    } else {
        QCOMPARE(QFileInfo(path(out)).permissions(), QFileInfo(path(u"fresh"_s)).permissions());
    }
}

void TestHeadless::exportLeavesTheEarlierFileWholeOnAFullDisk_data()
{
    QTest::addColumn<QString>("format");
    QTest::newRow("md") << u"md"_s;
    QTest::newRow("pdf") << u"pdf"_s;
}

void TestHeadless::exportLeavesTheEarlierFileWholeOnAFullDisk()
{
    QFETCH(QString, format);
    // A real full disk: a small file system of its own, which only root may make.
    const QString full = path(u"full"_s);
    QVERIFY(QDir().mkpath(full));
    if (::mount("tmpfs", QFile::encodeName(full).constData(), "tmpfs", 0, "size=16k") != 0)
        QSKIP("mounting a small tmpfs needs root");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(full).constData(), MNT_DETACH); });
    const QString out = u"full/out."_s + format;
    write(out, "an earlier file");
    QByteArray text = "# Long\n\n";
    for (int i = 0; i < 2000; ++i)
        text += "Paragraph " + QByteArray::number(i) + " of words that fill the disk.\n\n";
    write(u"long.md"_s, text);

    const Run result = run({u"--export"_s, format, u"long.md"_s, out});
    QCOMPARE(result.status, 2);
    QVERIFY2(result.err.startsWith("Quorvel: ") && result.err.contains("No space left on device"),
             result.err.constData());
    QCOMPARE(readFile(path(out)), QByteArray("an earlier file"));
    QCOMPARE(QDir(full).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{u"out."_s + format});
}

void TestHeadless::exportCopiesInOnlyImagesBesideTheNote_data()
{
    QTest::addColumn<QByteArray>("note");     // notes/note.md; "%1" is the scratch folder
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("output");      // relative to the scratch folder
    QTest::addColumn<QByteArray>("expected"); // in the output
    QTest::addColumn<QByteArray>("keptOut"); // never in it; "file:" never is either (fonts are
                                             // data: addresses, images only when allowed)

    const QString html = u"html"_s;
    const QString out = u"notes/out.html"_s;
    QTest::newRow("image-beside-the-note") << "![d](dot.png)"_ba << html << out
                                           << "src=\"data:image/png;base64,"_ba
                                           << "src=\"dot.png\""_ba;
    QTest::newRow("image-outside-the-folder") << "![k](../secret/key.png)"_ba << html << out
                                              << "src=\"../secret/key.png\""_ba << "data:image"_ba;
    QTest::newRow("absolute-path") << "![k](%1/secret/key.png)"_ba << html << out
                                   << "secret/key.png\""_ba << "data:image"_ba;
    QTest::newRow("not-an-image") << "![t](text.png)"_ba << html << out << "src=\"text.png\""_ba
                                  << "data:image"_ba;
    QTest::newRow("fifo-image") << "![f](fifo.png)"_ba << html << out << "src=\"fifo.png\""_ba
                                << "data:image"_ba;
    // The engine's own load of a FIFO waited for a writer, and the export with it.
    QTest::newRow("fifo-image-pdf") << "![f](fifo.png)"_ba << u"pdf"_s << u"notes/out.pdf"_s
                                    << "%PDF-"_ba << "file:"_ba;
    QTest::newRow("image-over-the-limit") << "![b](big.png)"_ba << html << out
                                          << "src=\"big.png\""_ba << "data:image"_ba;
    QTest::newRow("link-to-a-note") << "[o](Other.md) and [[Other]]"_ba << html << out
                                    << "href=\"Other.md\">o</a>"_ba << "/notes/"_ba;
    // No link to a note that is not there: the file would point at nothing beside it.
    QTest::newRow("link-to-a-missing-note") << "[o](Other.md) and [g](Gone.md)"_ba << html << out
                                            << "href=\"Other.md\""_ba << "Gone.md"_ba;
    QTest::newRow("exported-elsewhere")
        << "[o](Other.md) ![d](dot.png)"_ba << html << u"elsewhere/out.html"_s
        << "href=\"../notes/Other.md\""_ba << "href=\"Other.md\""_ba;
}

void TestHeadless::exportCopiesInOnlyImagesBesideTheNote()
{
    QFETCH(QByteArray, note);
    QFETCH(QString, format);
    QFETCH(QString, output);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, keptOut);
    QDir scratch(m_dir->path());
    for (const char *folder : {"notes", "secret", "elsewhere"})
        QVERIFY(scratch.mkpath(QString::fromLatin1(folder)));
    write(u"notes/note.md"_s, QByteArray(note).replace("%1", m_dir->path().toUtf8()) + '\n');
    write(u"notes/Other.md"_s, "# Other\n");
    write(u"notes/dot.png"_s, kPng);
    // Still a PNG to an image reader, with the bytes of a secret behind its end.
    write(u"secret/key.png"_s, QByteArray(kPng) + "SECRET");
    write(u"notes/text.png"_s, "not an image\n");
    write(u"notes/big.png"_s, kPng);
    QVERIFY(QFile::resize(path(u"notes/big.png"_s), 21 * 1024 * 1024));
    QVERIFY(::mkfifo(QFile::encodeName(path(u"notes/fifo.png"_s)).constData(), 0600) == 0);

    const Run result = run({u"--export"_s, format, u"notes/note.md"_s, output});
    QCOMPARE(result.status, 0);
    const QByteArray written = readFile(path(output));
    QVERIFY2(written.contains(expected), written.right(600).constData());
    QVERIFY2(!written.contains(keptOut), written.right(600).constData());
    QVERIFY2(!written.contains("file:"), written.right(600).constData());
}

void TestHeadless::optionsAnswerAsCommandLineToolsDo_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("usageOnStdout");
    QTest::addColumn<bool>("usageOnStderr");
    QTest::newRow("help") << QStringList{u"--help"_s} << 0 << true << false;
    QTest::newRow("h") << QStringList{u"-h"_s} << 0 << true << false;
    QTest::newRow("unknown") << QStringList{u"--frobnicate"_s} << 1 << false << true;
    QTest::newRow("export-short") << QStringList{u"--export"_s, u"html"_s} << 1 << false << true;
}

void TestHeadless::optionsAnswerAsCommandLineToolsDo()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(bool, usageOnStdout);
    QFETCH(bool, usageOnStderr);
    const Run result = run(args);
    QCOMPARE(result.status, status);
    QCOMPARE(result.out.startsWith("Usage: quorvel"), usageOnStdout);
    QCOMPARE(result.err.contains("Usage: quorvel"), usageOnStderr);

    const Run version = run({u"--version"_s});
    QCOMPARE(version.status, 0);
    QVERIFY(version.out.startsWith("Quorvel "));
}

void TestHeadless::commandLineChoosesTheMode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("chosen"); // mode, then what it takes
    QTest::newRow("nothing") << QStringList() << u"windows:"_s;
    QTest::newRow("files-in-order") << QStringList{u"b.md"_s, u"a.md"_s} << u"windows:b.md,a.md"_s;
    QTest::newRow("export") << QStringList{u"--export"_s, u"html"_s, u"a.md"_s, u"o.html"_s}
                            << u"export:html,a.md,o.html"_s;
    QTest::newRow("selftest-wins-over-export")
        << QStringList{u"--selftest"_s, u"/tmp/x.md"_s, u"--export"_s, u"pdf"_s, u"a"_s, u"b"_s}
        << u"selftest:/tmp/x.md"_s;
    QTest::newRow("export-short") << QStringList{u"--export"_s, u"pdf"_s, u"a"_s} << u"invalid"_s;
    QTest::newRow("selftest-last") << QStringList{u"a.md"_s, u"--selftest"_s} << u"invalid"_s;
    QTest::newRow("unknown") << QStringList{u"-x"_s} << u"invalid"_s;
    QTest::newRow("dash-dash-files") << QStringList{u"--"_s, u"-x.md"_s, u"--help"_s}
                                     << u"windows:-x.md,--help"_s;
    QTest::newRow("version") << QStringList{u"a.md"_s, u"--version"_s} << u"version"_s;
}

void TestHeadless::commandLineChoosesTheMode()
{
    QFETCH(QStringList, args);
    QFETCH(QString, chosen);
    using Mode = quorvel::app::CommandLine::Mode;
    const auto line = quorvel::app::CommandLine::parse(args);
    QString got;
    switch (line.mode) {
    case Mode::Windows: got = u"windows:"_s + line.files.join(u','); break;
    case Mode::Export: got = u"export:"_s + QStringList{line.format, line.input, line.output}.join(u','); break;
    case Mode::SelfTest: got = u"selftest:"_s + line.selfTestFile; break;
    case Mode::Help: got = u"help"_s; break;
    case Mode::Version: got = u"version"_s; break;
    case Mode::Invalid: got = u"invalid"_s; break;
    }
    QCOMPARE(got, chosen);
}

void TestHeadless::aSecondStartHandsItsFileToTheRunningOne()
{
    // A socket file left by a crash must not stop the first start.
    qputenv("XDG_RUNTIME_DIR", m_dir->path().toLocal8Bit());
    const QString socket = quorvel::app::SingleInstance::serverName();
    QVERIFY(socket.startsWith(m_dir->path()));
    write(QDir(m_dir->path()).relativeFilePath(socket), "left by a crash");
    write(u"b.md"_s, "# B\n");

    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, path(u"config"_s));
    env.insert(u"QUORVEL_DEBUG"_s, u"1"_s);
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(m_dir->path());
    first.start(QStringLiteral(QUORVEL_EXECUTABLE), {path(u"note.md"_s)});
    QVERIFY(first.waitForStarted());
    auto stop = qScopeGuard([&] {
        first.kill();
        first.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QLocalSocket probe;
            probe.connectToServer(socket);
            return probe.waitForConnected(100);
        }(),
        60'000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(m_dir->path());
    second.start(QStringLiteral(QUORVEL_EXECUTABLE), {u"b.md"_s}); // relative to its own folder
    QVERIFY(second.waitForFinished(30'000));
    QCOMPARE(second.exitCode(), 0);
    QByteArray log;
    const QByteArray opened = QByteArray("[app] window for ") + path(u"b.md"_s).toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT((log += first.readAllStandardError()).contains(opened), 30'000);
    const QByteArray own = QByteArray("[app] window for ") + path(u"note.md"_s).toUtf8();
    QVERIFY(log.contains(own));

    // A stopped instance keeps its place: a later start neither opens the file beside it nor
    // takes its socket over.
    QVERIFY(::kill(pid_t(first.processId()), SIGSTOP) == 0);
    auto resume = qScopeGuard([&] { ::kill(pid_t(first.processId()), SIGCONT); });
    write(u"c.md"_s, "# C\n");
    QProcess third;
    third.setProcessEnvironment(env);
    third.setWorkingDirectory(m_dir->path());
    third.start(QStringLiteral(QUORVEL_EXECUTABLE), {u"c.md"_s});
    QVERIFY(third.waitForFinished(60'000));
    QCOMPARE(third.exitCode(), 1);
    const QByteArray said = third.readAllStandardError();
    QVERIFY2(said.contains("does not answer") && !said.contains("[app] window for"),
             said.constData());
    resume.dismiss();
    QVERIFY(::kill(pid_t(first.processId()), SIGCONT) == 0);
    QLocalSocket probe;
    probe.connectToServer(socket);
    QVERIFY(probe.waitForConnected(10'000));
}

void TestHeadless::instanceSocketIsPrivateAndPerDisplay_data()
{
    QTest::addColumn<int>("runtimeMode"); // of XDG_RUNTIME_DIR; 0: unset
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("ownFolder"); // made first under TMPDIR: "", "open" or "link"
    QTest::addColumn<QString>("expected");  // relative; "<uid>" is ours; "-" for no socket

    QTest::newRow("runtime-folder") << 0700 << u":0"_s << QString() << QString()
                                    << u"run/quorvel-instance-:0"_s;
    QTest::newRow("screen-is-no-display") << 0700 << u":1.0"_s << QString() << QString()
                                          << u"run/quorvel-instance-:1"_s;
    QTest::newRow("wayland-first") << 0700 << u":0"_s << u"wayland-1"_s << QString()
                                   << u"run/quorvel-instance-wayland-1"_s;
    QTest::newRow("wayland-path") << 0700 << QString() << u"/run/w/wayland-2"_s << QString()
                                  << u"run/quorvel-instance-_run_w_wayland-2"_s;
    QTest::newRow("no-display") << 0700 << QString() << QString() << QString()
                                << u"run/quorvel-instance"_s;
    QTest::newRow("runtime-folder-open-to-others")
        << 0755 << u":0"_s << QString() << QString() << u"tmp/quorvel-<uid>/quorvel-instance-:0"_s;
    QTest::newRow("no-runtime-folder") << 0 << u":0"_s << QString() << QString()
                                       << u"tmp/quorvel-<uid>/quorvel-instance-:0"_s;
    QTest::newRow("own-folder-made-open-first")
        << 0 << u":0"_s << QString() << u"open"_s << u"-"_s;
    QTest::newRow("own-folder-is-a-link") << 0 << u":0"_s << QString() << u"link"_s << u"-"_s;
}

void TestHeadless::instanceSocketIsPrivateAndPerDisplay()
{
    QFETCH(int, runtimeMode);
    QFETCH(QString, display);
    QFETCH(QString, wayland);
    QFETCH(QString, ownFolder);
    QFETCH(QString, expected);
    const QDir scratch(m_dir->path());
    QVERIFY(scratch.mkpath(u"run"_s) && scratch.mkpath(u"tmp"_s) && scratch.mkpath(u"else"_s));
    QVERIFY(::chmod(QFile::encodeName(path(u"run"_s)).constData(), mode_t(runtimeMode)) == 0);
    QVERIFY(::chmod(QFile::encodeName(path(u"else"_s)).constData(), 0700) == 0);
    const QString own = u"tmp/quorvel-"_s + QString::number(::geteuid());
    if (ownFolder == u"open") {
        QVERIFY(scratch.mkpath(own));
        QVERIFY(::chmod(QFile::encodeName(path(own)).constData(), 0777) == 0);
    } else if (ownFolder == u"link") {
        QVERIFY(QFile::link(path(u"else"_s), path(own)));
    }
    const QByteArrayList names{"XDG_RUNTIME_DIR", "TMPDIR", "DISPLAY", "WAYLAND_DISPLAY"};
    QList<std::optional<QByteArray>> saved;
    for (const QByteArray &name : names)
        saved.append(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
    auto restore = qScopeGuard([&] {
        for (qsizetype i = 0; i < names.size(); ++i)
            saved[i] ? qputenv(names[i], *saved[i]) : qunsetenv(names[i]);
    });
    const QStringList values{runtimeMode ? path(u"run"_s) : QString(), path(u"tmp"_s), display,
                             wayland};
    for (qsizetype i = 0; i < names.size(); ++i)
        values[i].isEmpty() ? qunsetenv(names[i]) : qputenv(names[i], values[i].toUtf8());

    const QString name = quorvel::app::SingleInstance::serverName();
    QCOMPARE(name.isEmpty() ? u"-"_s : scratch.relativeFilePath(name),
             QString(expected).replace(u"<uid>"_s, QString::number(::geteuid())));
    if (!name.isEmpty()) {
        struct stat folder{};
        QVERIFY(::lstat(QFile::encodeName(QFileInfo(name).path()).constData(), &folder) == 0);
        QCOMPARE(int(folder.st_mode & 07777), 0700);
    }
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
