#include "modelharness.h"

#include "core/diskfile.h"
#include "core/documentviews.h"
#include "core/documentmodel.h"
#include "core/filewriter.h"
#include "core/documenttext.h"
#include "core/documentfile.h"

#include <QSignalSpy>

#include <QTest>

#include <csignal>
#include <cstring>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace quorvel::core;
using namespace Qt::StringLiterals;
using Mode = DocumentModel::Mode;

namespace {

// Files grow no larger than `bytes` while it lives: writes past it fail with EFBIG, as on a
// full disk, without needing one.
struct FileSizeLimit
{
    rlimit saved{};
    void (*handler)(int) = nullptr;
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{bytes, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

// A 64 KiB file system on a folder, for a real "No space left on device".
struct SmallDisk
{
    QString folder;
    bool mount(const QString &at)
    {
        if (::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, "size=64k") != 0)
            return false;
        folder = at;
        return true;
    }
    bool setReadOnly(bool readOnly) const
    {
        return ::mount(nullptr, QFile::encodeName(folder).constData(), nullptr,
                       MS_REMOUNT | (readOnly ? MS_RDONLY : 0), "size=64k")
            == 0;
    }
    void fill() const
    {
        QFile filler(folder + QStringLiteral("/filler"));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
    }
    void empty() const { QFile::remove(folder + QStringLiteral("/filler")); }
    ~SmallDisk()
    {
        if (!folder.isEmpty())
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    }
};

// Sets or clears the immutable attribute, which stops root too; false where the file system has
// none.
bool setImmutable(const QString &path, bool on)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    int flags = 0;
    if (::ioctl(file.handle(), FS_IOC_GETFLAGS, &flags) != 0)
        return false;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    return ::ioctl(file.handle(), FS_IOC_SETFLAGS, &flags) == 0;
}

} // namespace

class TestCore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // the text and its edits
    void anEditIsTheSpanThatDiffers_data();
    void anEditIsTheSpanThatDiffers();
    void anEditMovesPastAnEarlierOne_data();
    void anEditMovesPastAnEarlierOne();
    void aViewBehindIsToldOneSpan();
    void editsThatDoNotFitAreRefused();
    void historyTakesBackStepsWhereverTheyWereMade_data();
    void historyTakesBackStepsWhereverTheyWereMade();

    // the file
    void savingKeepsEveryUntouchedByte_data();
    void savingKeepsEveryUntouchedByte();
    void unencodableTextIsNeverWrittenLossy_data();
    void unencodableTextIsNeverWrittenLossy();
    void savingKeepsLinks_data();
    void savingKeepsLinks();
    void failedSaveKeepsOldFileReportsOnceAndRecovers_data();
    void failedSaveKeepsOldFileReportsOnceAndRecovers();
    void onlyTheFileLastSeenIsWrittenOver_data();
    void onlyTheFileLastSeenIsWrittenOver();
    void newerFileOnDiskAsksBeforeOverwriting();
    void untitledSaveAsksForAPath();

    // line breaks through a text widget

    // the model
    void modeAndOutlineComeFromTheLastChoice_data();
    void modeAndOutlineComeFromTheLastChoice();
    void leavingVisualFlushesThePage_data();
    void leavingVisualFlushesThePage();
    void liveRefsKeepDeadEntriesUntilTheNextModel();
    void namesAndFolders_data();
    void namesAndFolders();
    void editorScrollMovesThePageOnlyInSplit();

    // saving
    void autosaveWaitsForASecondOfQuiet();
    void untitledIsNeverAutosaved();
    void explicitSaveOverridesAnOutsideChange();
    void explicitSaveInVisualFlushesFirst();
    void dirtyFollowsTheDocumentAfterASave();
    void failedSaveLeavesDirtyAfterTheLastCheck();

private:
    std::optional<FakePreviewFactory> m_fakes;
    PreviewCalls &preview() { return m_fakes->calls; }
};

void TestCore::init()
{
    m_fakes.emplace();
}

void TestCore::cleanup()
{
    m_fakes.reset();
}

// The text and its edits ----------------------------------------------------------------------

void TestCore::anEditIsTheSpanThatDiffers_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::newRow("typed") << u"ab"_s << u"axb"_s << 1 << 0 << u"x"_s;
    QTest::newRow("deleted") << u"abc"_s << u"ac"_s << 1 << 1 << QString();
    QTest::newRow("replaced-at-end") << u"abc"_s << u"abXY"_s << 2 << 1 << u"XY"_s;
    QTest::newRow("same") << u"abc"_s << u"abc"_s << 3 << 0 << QString();
    QTest::newRow("repeated-letters") << u"aaa"_s << u"aaaa"_s << 3 << 0 << u"a"_s;
    // Two emoji that share their first half: the change must not start between the halves.
    QTest::newRow("pair-before") << u"\U0001F601"_s << u"\U0001F600\U0001F601"_s << 0 << 2
                                 << u"\U0001F600\U0001F601"_s;
    QTest::newRow("pair-after") << u"\U0001F600"_s << u"\U0001F600\U0001F601"_s << 2 << 0
                                << u"\U0001F601"_s;
    QTest::newRow("pair-replaced") << u"a\U0001F600b"_s << u"a\U0001F601b"_s << 1 << 2
                                   << u"\U0001F601"_s;
}

void TestCore::anEditIsTheSpanThatDiffers()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(int, start);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    const TextEdit edit = TextEdit::between(from, to);
    QCOMPARE(edit, (TextEdit{start, removed, inserted}));
    DocumentText text(from);
    QSignalSpy edited(&text, &DocumentText::edited);
    QCOMPARE(text.replaceAll(to, EditOrigin::Disk), from != to);
    QCOMPARE(text.text(), to);
    if (from != to)
        QCOMPARE(edited.first().at(0).value<TextEdit>(), edit);
}

// Two edits made from the same text: the later one, moved past the earlier, changes what it
// meant to, or nothing when both touch the same characters.
void TestCore::anEditMovesPastAnEarlierOne_data()
{
    QTest::addColumn<int>("earlierStart");
    QTest::addColumn<int>("earlierRemoved");
    QTest::addColumn<QString>("earlierInserted");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("result"); // from "one two three"; null: refused
    QTest::newRow("after-an-insertion") << 0 << 0 << u">> "_s << 4 << 3 << u"2"_s
                                        << u">> one 2 three"_s;
    QTest::newRow("after-a-deletion") << 0 << 4 << QString() << 8 << 5 << u"3"_s << u"two 3"_s;
    QTest::newRow("before") << 8 << 5 << u"3"_s << 0 << 3 << u"1"_s << u"1 two 3"_s;
    QTest::newRow("touching-at-the-end") << 4 << 3 << u"2"_s << 7 << 0 << u"!"_s
                                         << u"one 2! three"_s;
    QTest::newRow("same-place-insertions") << 3 << 0 << u"A"_s << 3 << 0 << u"B"_s
                                           << u"oneAB two three"_s;
    QTest::newRow("overlapping") << 4 << 3 << u"2"_s << 5 << 4 << u"X"_s << QString();
    QTest::newRow("inside-a-deletion") << 0 << 7 << QString() << 4 << 0 << u"X"_s << QString();
}

void TestCore::anEditMovesPastAnEarlierOne()
{
    QFETCH(int, earlierStart);
    QFETCH(int, earlierRemoved);
    QFETCH(QString, earlierInserted);
    QFETCH(int, start);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    QFETCH(QString, result);
    DocumentText text(u"one two three"_s);
    QVERIFY(text.apply({earlierStart, earlierRemoved, earlierInserted}, EditOrigin::SourceEditor));
    const auto moved = text.rebase({start, removed, inserted}, 0);
    QCOMPARE(moved.has_value(), !result.isNull());
    if (moved) {
        QVERIFY(text.apply(*moved, EditOrigin::Page));
        QCOMPARE(text.text(), result);
    }
}

// A view that holds an old revision is told what changed since as one span, however many
// edits there were; from a revision history has let go of, nothing.
void TestCore::aViewBehindIsToldOneSpan()
{
    DocumentText text(u"# Notes\n\nA line of text \U0001F600 that runs on.\n\nAnother one.\n"_s);
    quint32 state = 7;
    const auto next = [&state](quint32 bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % bound;
    };
    const QStringList pieces{u""_s, u"x"_s, u"\n"_s, u"\U0001F601"_s};
    for (int round = 0; round < 300; ++round) { // more edits than are remembered
        const quint64 from = text.revision();
        const QString before = text.text();
        for (int n = 0; n < 1 + round % 4; ++n) {
            const qsizetype start = next(quint32(text.size() + 1));
            const qsizetype removed = next(quint32(std::min<qsizetype>(4, text.size() - start) + 1));
            text.apply({start, removed, pieces[next(4)]}, EditOrigin::SourceEditor);
        }
        const auto change = text.changeSince(from);
        QVERIFY(change);
        QCOMPARE(QString(before).replace(change->start, change->removed, change->inserted),
                 text.text());
        const QString &now = text.text();
        QVERIFY(change->start == 0 || change->start == now.size()
                || !(now[change->start - 1].isHighSurrogate() && now[change->start].isLowSurrogate()));
    }
    QVERIFY(!text.changeSince(0));
    QVERIFY(!text.changeSince(text.revision() + 1));
}

void TestCore::editsThatDoNotFitAreRefused()
{
    DocumentText text(u"abc"_s);
    QSignalSpy edited(&text, &DocumentText::edited);
    for (const TextEdit &edit : {TextEdit{-1, 0, u"x"_s}, TextEdit{2, 2, u"x"_s},
                                 TextEdit{4, 0, u"x"_s}, TextEdit{0, -1, u"x"_s},
                                 TextEdit{1, 1, u"b"_s}})
        QVERIFY(!text.apply(edit, EditOrigin::Page));
    QCOMPARE(text.text(), u"abc"_s);
    QCOMPARE(text.revision(), 0u);
    QCOMPARE(edited.count(), 0);
    QVERIFY(!text.canUndo());
}

// Edits as "origin:start:removed:inserted"; after them, what each undo leaves and where the
// caret goes, then what the first redo brings back.
void TestCore::historyTakesBackStepsWhereverTheyWereMade_data()
{
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QStringList>("undone"); // "text|caret" after each undo
    QTest::addColumn<QString>("redone");
    QTest::newRow("typing-run-is-one-step") << QStringList{"s:0:0:a", "s:1:0:b", "s:2:0:c"}
                                            << QStringList{"|0"} << u"abc"_s;
    QTest::newRow("backspacing-run-is-one-step")
        << QStringList{"s:0:0:abc", "s:2:1:", "s:1:1:"} << QStringList{"abc|3", "|0"} << u"abc"_s;
    QTest::newRow("a-new-line-starts-a-step") << QStringList{"s:0:0:a", "s:1:0:\n", "s:2:0:b"}
                                              << QStringList{"a|1", "|0"} << u"a"_s;
    QTest::newRow("views-take-turns") << QStringList{"s:0:0:a", "p:1:0:b", "s:2:0:c"}
                                      << QStringList{"ab|2", "a|1", "|0"} << u"a"_s;
    QTest::newRow("a-jump-starts-a-step") << QStringList{"s:0:0:ab", "s:0:0:c"}
                                          << QStringList{"ab|0", "|0"} << u"ab"_s;
    QTest::newRow("commands-and-reloads-are-steps")
        << QStringList{"s:0:0:a", "c:0:1:A", "d:1:0:!"} << QStringList{"A|1", "a|1", "|0"}
        << u"a"_s;
}

void TestCore::historyTakesBackStepsWhereverTheyWereMade()
{
    QFETCH(QStringList, edits);
    QFETCH(QStringList, undone);
    QFETCH(QString, redone);
    DocumentText text;
    const QHash<QString, EditOrigin> origins{{u"s"_s, EditOrigin::SourceEditor},
                                             {u"p"_s, EditOrigin::Page},
                                             {u"c"_s, EditOrigin::Program},
                                             {u"d"_s, EditOrigin::Disk}};
    for (const QString &edit : edits) {
        const QStringList part = edit.split(u':');
        QVERIFY(text.apply({part[1].toInt(), part[2].toInt(), part[3]}, origins[part[0]]));
    }
    QSignalSpy edited(&text, &DocumentText::edited);
    for (const QString &expected : undone) {
        const auto caret = text.undo();
        QVERIFY(caret);
        QCOMPARE(text.text() + u'|' + QString::number(*caret), expected);
    }
    QVERIFY(!text.canUndo());
    QVERIFY(!text.undo());
    QCOMPARE(edited.first().at(1).value<EditOrigin>(), EditOrigin::History);
    QVERIFY(text.redo());
    QCOMPARE(text.text(), redone);
}

void TestCore::savingKeepsEveryUntouchedByte_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text"); // null: not opened
    QTest::addColumn<QByteArray>("saved"); // after typing "ü" at the end

    QTest::newRow("empty") << QByteArray() << QString() << QByteArray("\xc3\xbc");
    QTest::newRow("utf8") << QByteArray("caf\xc3\xa9 \xe2\x9c\x93\n") << QStringLiteral("café ✓\n")
                          << QByteArray("caf\xc3\xa9 \xe2\x9c\x93\n\xc3\xbc");
    QTest::newRow("utf8-byte-order-mark") << QByteArray("\xef\xbb\xbf# T\n")
                                          << (QChar(0xFEFF) + QStringLiteral("# T\n"))
                                          << QByteArray("\xef\xbb\xbf# T\n\xc3\xbc");
    QTest::newRow("latin1-stays-latin1") << QByteArray("caf\xe9 na\xefve\n")
                                         << QStringLiteral("café naïve\n")
                                         << QByteArray("caf\xe9 na\xefve\n\xfc");
    const QByteArray stray("caf\xc3\xa9 \xe2\x80\x94 \xe6\x97\xa5\xe6\x9c\xac\xff");
    QTest::newRow("utf8-with-a-stray-byte") << stray << QString::fromLatin1(stray)
                                            << stray + "\xfc";
    QTest::newRow("latin1-accent-at-the-very-end") << QByteArray("Caf\xe9") << QStringLiteral("Café")
                                                   << QByteArray("Caf\xe9\xfc");
    QTest::newRow("utf16le-byte-order-mark") << QByteArray("\xff\xfeh\0i\0", 6)
                                             << QStringLiteral("hi")
                                             << QByteArray("\xff\xfeh\0i\0\xfc\0", 8);
    QTest::newRow("utf16be-byte-order-mark") << QByteArray("\xfe\xff\0h\0i", 6)
                                             << QStringLiteral("hi")
                                             << QByteArray("\xfe\xff\0h\0i\0\xfc", 8);
    QTest::newRow("mixed-endings") << QByteArray("a\rb\nc\r\n") << QStringLiteral("a\rb\nc\r\n")
                                   << QByteArray("a\rb\nc\r\n\xc3\xbc");
    QTest::newRow("nul-byte") << QByteArray("a\0b", 3) << QString() << QByteArray("a\0b", 3);
    QTest::newRow("utf16-without-byte-order-mark") << QByteArray("h\0i\0", 4) << QString()
                                                   << QByteArray("h\0i\0", 4);
}

void TestCore::savingKeepsEveryUntouchedByte()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QFETCH(QByteArray, saved);

    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("in.md"), bytes);
    auto opened = DocumentText::open(path);
    if (text.isNull() && !bytes.isEmpty()) {
        QVERIFY(!opened.ok());
        QVERIFY2(opened.error().contains(u"isn\u2019t a text file"), qPrintable(opened.error()));
        return;
    }
    QVERIFY2(opened.ok(), qPrintable(opened.error()));
    QCOMPARE(opened.value()->text(), text);

    const auto text_ = std::move(opened).value();
    DocumentFile document(*text_, path, scratch.clock);
    document.text().replaceAll(text + QStringLiteral("\u00fc"), EditOrigin::Program);
    document.updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(path), saved);
    QVERIFY(!document.isDocumentEdited());
}

void TestCore::failedSaveKeepsOldFileReportsOnceAndRecovers_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::addColumn<QString>("reason"); // what the system said, carried into the alert
    const auto system = [](int error) { return QString::fromLocal8Bit(std::strerror(error)); };
    QTest::newRow("folder-removed") << "folder-removed" << system(ENOENT);
    QTest::newRow("folder-in-the-way") << "folder-in-the-way"
                                       << "A folder with that name is in the way.";
    QTest::newRow("read-only-folder") << "read-only-folder" << system(EACCES);
    QTest::newRow("file-size-limit") << "file-size-limit" << system(EFBIG);
    QTest::newRow("hard-link-past-file-size-limit") << "hard-link" << system(EFBIG);
    QTest::newRow("full-disk") << "full-disk" << system(ENOSPC);
    // What stops root as well.
    QTest::newRow("immutable-file") << "immutable-file" << system(EPERM);
    QTest::newRow("read-only-mount") << "read-only-mount" << system(EROFS);
}

// One alert with the system's reason for a run of failures, the text kept and the old file
// intact; once the fault is undone, the next save writes the text.
void TestCore::failedSaveKeepsOldFileReportsOnceAndRecovers()
{
    QFETCH(QString, breakage);
    QFETCH(QString, reason);
    if (breakage == u"read-only-folder" && geteuid() == 0)
        QSKIP("root writes into read-only folders");

    ScratchEnvironment scratch;
    const QString folder = scratch.path(QStringLiteral("notes"));
    QVERIFY(QDir().mkdir(folder));
    SmallDisk disk;
    if ((breakage == u"full-disk" || breakage == u"read-only-mount") && !disk.mount(folder))
        QSKIP("mounting a small file system needs privileges this run does not have");
    const QString path = scratch.write(QStringLiteral("notes/a.md"), "old\n");
    const QString text = QStringLiteral("new, and longer than the limit\n");
    const auto text_ = std::move(DocumentText::open(path)).value();
    DocumentFile document(*text_, path, scratch.clock);
    FakePrompter prompter;
    document.setPrompter(&prompter);
    document.text().replaceAll(text, EditOrigin::Program);
    document.updateChangeCount(DocumentFile::Change::Done);

    std::optional<FileSizeLimit> limit;
    std::function<void()> undo = [] {};
    if (breakage == u"folder-removed") {
        QVERIFY(QDir(folder).removeRecursively());
        undo = [&] { QDir().mkdir(folder); };
    } else if (breakage == u"folder-in-the-way") {
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        undo = [&] { QDir().rmdir(path); };
    } else if (breakage == u"read-only-folder") {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    } else if (breakage == u"full-disk") {
        disk.fill();
        undo = [&] { disk.empty(); };
    } else if (breakage == u"immutable-file") {
        if (!setImmutable(path, true))
            QSKIP("this file system has no immutable attribute");
        undo = [&] { setImmutable(path, false); };
    } else if (breakage == u"read-only-mount") {
        QVERIFY(disk.setReadOnly(true));
        undo = [&] { disk.setReadOnly(false); };
    } else {
        if (breakage == u"hard-link")
            QCOMPARE(::link(QFile::encodeName(path).constData(),
                            QFile::encodeName(folder + QStringLiteral("/b.md")).constData()),
                     0);
        limit.emplace(16);
    }

    QSignalSpy failures(&document, &DocumentFile::saveFailed);
    QVERIFY(!document.saveDocument());
    QVERIFY(!document.saveDocument());
    limit.reset();
    QCOMPARE(failures.count(), 2);
    QCOMPARE(prompter.errors.size(), 1);
    QVERIFY(prompter.errors.first().contains(u"\u201Ca.md\u201D could not be saved"));
    QVERIFY2(prompter.errors.first().contains(reason), qPrintable(prompter.errors.first()));
    QVERIFY(document.isDocumentEdited());
    if (QFileInfo(path).isFile()) {
        QCOMPARE(ScratchEnvironment::read(path), QByteArray("old\n"));
        if (breakage == u"hard-link")
            QCOMPARE(ScratchEnvironment::read(folder + QStringLiteral("/b.md")), QByteArray("old\n"));
        // No half-written copy is left behind.
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(u"a.md").size(), 1);
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(document.text().text(), text);

    undo();
    QVERIFY(document.saveDocument());
    QVERIFY(!document.isDocumentEdited());
    QCOMPARE(ScratchEnvironment::read(path), text.toUtf8());
    if (breakage == u"hard-link")
        QCOMPARE(ScratchEnvironment::read(folder + QStringLiteral("/b.md")), text.toUtf8());
    QCOMPARE(prompter.errors.size(), 1);
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(u"a.md").size(), 1);
}

void TestCore::onlyTheFileLastSeenIsWrittenOver_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("written");
    QTest::newRow("unchanged") << "" << true;
    QTest::newRow("appended") << "append" << false;
    QTest::newRow("replaced") << "replace" << false;
    QTest::newRow("removed") << "remove" << false;
    QTest::newRow("hard-linked-and-appended") << "link-append" << false;
}

void TestCore::onlyTheFileLastSeenIsWrittenOver()
{
    QFETCH(QString, change);
    QFETCH(bool, written);
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "old\n");
    if (change.startsWith(u"link"))
        QCOMPARE(::link(QFile::encodeName(path).constData(),
                        QFile::encodeName(scratch.path(QStringLiteral("b.md"))).constData()),
                 0);
    DiskFile disk(scratch.clock);
    disk.watch(path, [] {});
    const DiskAttributes seen = disk.lastSeen();
    QByteArray expected = "new\n";
    if (change.endsWith(u"append")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write("theirs\n") == 7);
        expected = "old\ntheirs\n";
    } else if (change == u"replace") {
        QVERIFY(QFile::remove(path));
        expected = "theirs\n";
        scratch.write(QStringLiteral("a.md"), expected);
    } else if (change == u"remove") {
        QVERIFY(QFile::remove(path));
        expected = "<missing>";
    }
    const auto result = FileWriter::writeOver(path, "new\n", seen);
    QVERIFY2(result.ok(), qPrintable(result.error()));
    QCOMPARE(result.value(), written);
    QCOMPARE(ScratchEnvironment::read(path), expected);
    QCOMPARE(QDir(scratch.dir.path()).entryList(QDir::Files | QDir::Hidden).filter(u"a.md").size(),
             change == u"remove" ? 0 : 1);
}

void TestCore::newerFileOnDiskAsksBeforeOverwriting()
{
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "mine\n");
    const auto text_ = std::move(DocumentText::open(path)).value();
    DocumentFile document(*text_, path, scratch.clock);
    FakePrompter prompter;
    document.setPrompter(&prompter);

    scratch.write(QStringLiteral("a.md"), "theirs\n");
    QFile touched(path);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();

    document.text().replaceAll(QStringLiteral("mine, edited\n"), EditOrigin::Program);
    document.updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(!document.saveDocument());
    QCOMPARE(prompter.overwriteQuestions, 1);
    QCOMPARE(ScratchEnvironment::read(path), QByteArray("theirs\n"));
    QVERIFY(document.isDocumentEdited());

    prompter.overwriteNewer = true;
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(path), QByteArray("mine, edited\n"));
    QVERIFY(document.saveDocument()); // the date it knows is now the file's: no question
    QCOMPARE(prompter.overwriteQuestions, 2);
}

void TestCore::untitledSaveAsksForAPath()
{
    ScratchEnvironment scratch;
    DocumentText text(QStringLiteral("hello"));
    DocumentFile document(text, QString(), scratch.clock);
    FakePrompter prompter;
    document.setPrompter(&prompter);
    QSignalSpy moved(&document, &DocumentFile::filePathChanged);

    QVERIFY(!document.saveDocument()); // cancelled
    QVERIFY(document.isUntitled());
    prompter.savePath = scratch.path(QStringLiteral("new.md"));
    QVERIFY(document.saveDocument());
    QCOMPARE(document.filePath(), *prompter.savePath);
    QCOMPARE(moved.count(), 1);
    QCOMPARE(ScratchEnvironment::read(*prompter.savePath), QByteArray("hello"));
}

void TestCore::unencodableTextIsNeverWrittenLossy_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("saved");
    QTest::newRow("nobody-to-ask") << "" << QByteArray("caf\xe9\n");
    QTest::newRow("conversion-declined") << "decline" << QByteArray("caf\xe9\n");
    QTest::newRow("converted-to-utf8") << "convert" << QByteArray("caf\xc3\xa9 \xe6\x97\xa5\n");
}

void TestCore::unencodableTextIsNeverWrittenLossy()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, saved);
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "caf\xe9\n");
    const auto text_ = std::move(DocumentText::open(path)).value();
    DocumentFile document(*text_, path, scratch.clock);
    FakePrompter prompter;
    prompter.convert = answer == u"convert";
    if (!answer.isEmpty())
        document.setPrompter(&prompter);
    document.text().replaceAll(QStringLiteral("café 日\n"), EditOrigin::Program);
    document.updateChangeCount(DocumentFile::Change::Done);

    QCOMPARE(document.saveDocument(DocumentFile::SaveKind::Autosave), prompter.convert);
    QCOMPARE(ScratchEnvironment::read(path), saved);
    QCOMPARE(document.isDocumentEdited(), !prompter.convert);
    QCOMPARE(document.text().encoding().isUtf8(), prompter.convert);
    QCOMPARE(prompter.conversionQuestions, answer.isEmpty() ? 0 : 1);
    if (answer == u"decline") { // asked again only when the user saves
        QVERIFY(!document.saveDocument(DocumentFile::SaveKind::Autosave));
        QCOMPARE(prompter.conversionQuestions, 1);
        QVERIFY(!document.saveDocument());
        QCOMPARE(prompter.conversionQuestions, 2);
    }
}

void TestCore::savingKeepsLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::newRow("hard-link") << "hard";
    QTest::newRow("symbolic-link") << "symbolic";
}

void TestCore::savingKeepsLinks()
{
    QFETCH(QString, link);
    ScratchEnvironment scratch;
    const QString target = scratch.write(QStringLiteral("target.md"), "old\n");
    const QString other = scratch.path(QStringLiteral("other.md"));
    const QByteArray from = QFile::encodeName(target), to = QFile::encodeName(other);
    QCOMPARE(link == u"hard" ? ::link(from, to) : ::symlink("target.md", to), 0);

    const auto text_ = std::move(DocumentText::open(other)).value();
    DocumentFile document(*text_, other, scratch.clock);
    document.text().replaceAll(QStringLiteral("new\n"), EditOrigin::Program);
    document.updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(target), QByteArray("new\n"));
    QCOMPARE(ScratchEnvironment::read(other), QByteArray("new\n"));
    struct stat a{}, b{};
    QCOMPARE(::stat(from, &a), 0);
    QCOMPARE(::stat(to, &b), 0);
    QCOMPARE(a.st_ino, b.st_ino);
    QCOMPARE(QFileInfo(other).isSymLink(), link == u"symbolic");
}

void TestCore::modeAndOutlineComeFromTheLastChoice_data()
{
    QTest::addColumn<QString>("storedMode");
    QTest::addColumn<QString>("storedOutline");
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<bool>("outline");
    QTest::newRow("nothing-stored") << "<none>" << "<none>" << Mode::Read << false;
    QTest::newRow("split-with-outline") << "split" << "true" << Mode::Split << true;
    QTest::newRow("source") << "source" << "false" << Mode::Source << false;
    QTest::newRow("capitalised-mode") << "Visual" << "<none>" << Mode::Read << false;
    QTest::newRow("unknown-mode") << "preview" << "yes" << Mode::Read << false;
}

void TestCore::modeAndOutlineComeFromTheLastChoice()
{
    QFETCH(QString, storedMode);
    QFETCH(QString, storedOutline);
    QFETCH(Mode, mode);
    QFETCH(bool, outline);
    ScratchEnvironment scratch;
    if (storedMode != u"<none>")
        scratch.store.setValue(QStringLiteral("lastMode"), storedMode);
    if (storedOutline != u"<none>")
        scratch.store.setValue(QStringLiteral("lastShowOutline"), storedOutline);
    DocumentModel model(scratch.env());
    QCOMPARE(model.mode(), mode);
    QCOMPARE(model.showOutline(), outline);

    // A choice in one window is what the next window starts with, not a change of this one.
    DocumentModel other(scratch.env());
    other.setMode(Mode::Visual);
    other.setShowOutline(!outline);
    QCOMPARE(model.mode(), mode);
    DocumentModel next(scratch.env());
    QCOMPARE(next.mode(), Mode::Visual);
    QCOMPARE(next.showOutline(), !outline);
}

void TestCore::leavingVisualFlushesThePage_data()
{
    QTest::addColumn<Mode>("from");
    QTest::addColumn<Mode>("to");
    QTest::addColumn<int>("flushes");
    QTest::newRow("visual-to-split") << Mode::Visual << Mode::Split << 1;
    QTest::newRow("visual-to-read") << Mode::Visual << Mode::Read << 1;
    QTest::newRow("visual-to-source") << Mode::Visual << Mode::Source << 1;
    QTest::newRow("visual-to-visual") << Mode::Visual << Mode::Visual << 0;
    QTest::newRow("read-to-split") << Mode::Read << Mode::Split << 0;
    QTest::newRow("source-to-visual") << Mode::Source << Mode::Visual << 0;
}

void TestCore::leavingVisualFlushesThePage()
{
    QFETCH(Mode, from);
    QFETCH(Mode, to);
    QFETCH(int, flushes);
    ScratchEnvironment scratch;
    DocumentModel model(scratch.env());
    model.setMode(from);
    m_fakes->calls = {};
    model.setMode(to);
    QCOMPARE(preview().flushes, flushes);
    QCOMPARE(scratch.store.string(QStringLiteral("lastMode")), DocumentModel::storedName(to));
}

void TestCore::liveRefsKeepDeadEntriesUntilTheNextModel()
{
    ScratchEnvironment scratch;
    const auto before = DocumentModel::liveModels();
    auto a = std::make_unique<DocumentModel>(scratch.env());
    auto b = std::make_unique<DocumentModel>(scratch.env());
    auto c = std::make_unique<DocumentModel>(scratch.env());
    const qsizetype entries = DocumentModel::liveRefs().size();
    a.reset();
    c.reset();
    QCOMPARE(DocumentModel::liveModels(), before + QList<DocumentModel *>{b.get()});
    QCOMPARE(DocumentModel::liveRefs().size(), entries);
    DocumentModel d(scratch.env());
    QCOMPARE(DocumentModel::liveRefs().size(), entries - 1);
    QCOMPARE(DocumentModel::liveModels(), (before + QList<DocumentModel *>{b.get(), &d}));
}

void TestCore::namesAndFolders_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder");
    QTest::newRow("untitled") << "" << "Untitled" << "";
    QTest::newRow("plain") << "/a/b/notes.md" << "notes" << "file:///a/b/";
    QTest::newRow("dotted-name") << "/a/b/Report.final.md" << "Report.final" << "file:///a/b/";
    QTest::newRow("no-extension") << "/a/README" << "README" << "file:///a/";
    QTest::newRow("hidden-file") << "/a/.notes" << ".notes" << "file:///a/";
    QTest::newRow("space-in-folder") << "/My Notes/x.md" << "x" << "file:///My%20Notes/";
}

void TestCore::namesAndFolders()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, folder);
    ScratchEnvironment scratch;
    DocumentModel model(scratch.env());
    if (!path.isEmpty())
        model.setFileUrl(QUrl::fromLocalFile(path));
    QCOMPARE(model.displayName(), name);
    QCOMPARE(model.docDirUrl().toString(QUrl::FullyEncoded), folder);
}

void TestCore::editorScrollMovesThePageOnlyInSplit()
{
    ScratchEnvironment scratch;
    DocumentModel model(scratch.env());
    for (Mode mode : DocumentModel::allModes()) {
        model.setMode(mode);
        model.editorScrolled(0.25);
    }
    QCOMPARE(preview().fractions, QList<double>{0.25});
}

void TestCore::autosaveWaitsForASecondOfQuiet()
{
    Harness h;
    QSignalSpy saves(h.document, &DocumentFile::saved);
    for (int i = 0; i <= 10; ++i) { // a change every half second for five seconds
        h.setText(QStringLiteral("draft %1\n").arg(i));
        QVERIFY(h.model->dirty());
        h.scratch.clock.advance(500ms);
    }
    QCOMPARE(saves.count(), 0);
    QCOMPARE(h.onDisk(), QByteArray("start\n"));
    h.scratch.clock.advance(499ms);
    QCOMPARE(saves.count(), 0);
    h.scratch.clock.advance(1ms);
    QCOMPARE(saves.count(), 1);
    QCOMPARE(h.onDisk(), QByteArray("draft 10\n"));
    QCOMPARE(h.document->lastAutosave(), h.scratch.clock.now());
    QVERIFY(!h.model->dirty());
    h.scratch.clock.advance(10s);
    QCOMPARE(saves.count(), 1);
}

void TestCore::untitledIsNeverAutosaved()
{
    Harness h("", false);
    h.setText(QStringLiteral("draft"));
    QVERIFY(h.model->dirty());
    h.scratch.clock.advance(1s);
    QVERIFY(h.model->dirty()); // nothing was saved: the window still says so
    QCOMPARE(h.prompter.pathRequests, 0);
    h.model->saveNow();
    QCOMPARE(h.prompter.pathRequests, 1);
}

void TestCore::explicitSaveOverridesAnOutsideChange()
{
    Harness h;
    h.setText(QStringLiteral("mine\n"));
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    h.document->setExternalContent(QStringLiteral("theirs\n"));
    h.model->saveNow();
    QVERIFY(!h.document->externalContent());
    QCOMPARE(h.onDisk(), QByteArray("mine\n"));
    QCOMPARE(h.prompter.overwriteQuestions, 0); // the date was synced from disk first
    QCOMPARE(h.scratch.clock.pendingCount(), 0);
}

void TestCore::explicitSaveInVisualFlushesFirst()
{
    Harness h;
    h.model->setMode(Mode::Visual);
    h.setText(QStringLiteral("typed\n"));
    h.model->saveNow();
    QCOMPARE(preview().flushes, 1);
    QCOMPARE(h.onDisk(), QByteArray("typed\n"));
}

void TestCore::dirtyFollowsTheDocumentAfterASave()
{
    Harness h;
    QSignalSpy dirty(h.model, &DocumentModel::dirtyChanged);
    h.setText(QStringLiteral("one\n"));
    h.model->saveNow();
    QVERIFY(!h.model->dirty());

    // One flag: the file's. A change after the save shows at once, with nothing polling.
    h.document->updateChangeCount(DocumentFile::Change::Done);
    QVERIFY(h.model->dirty());
    QCOMPARE(h.scratch.clock.pendingCount(), 0);
    QCOMPARE(dirty.count(), 3);
}

void TestCore::failedSaveLeavesDirtyAfterTheLastCheck()
{
    Harness h;
    QVERIFY(QFile::remove(h.document->filePath()));
    QVERIFY(QDir().mkdir(h.document->filePath()));
    // A folder newer than the file the document knows is still a failure, not a newer file.
    const timeval later[2] = {{time(nullptr) + 60, 0}, {time(nullptr) + 60, 0}};
    QCOMPARE(utimes(QFile::encodeName(h.document->filePath()).constData(), later), 0);
    h.setText(QStringLiteral("unsaveable\n"));
    h.scratch.clock.advance(1s);
    QVERIFY(h.model->dirty());
    QCOMPARE(h.prompter.errors.size(), 1);
    h.scratch.clock.advance(6s);
    QVERIFY(h.model->dirty());
    QCOMPARE(h.scratch.clock.pendingCount(), 0);
    h.setText(QStringLiteral("still unsaveable\n"));
    h.scratch.clock.advance(1s);
    QCOMPARE(h.prompter.errors.size(), 1); // one alert for a run of failures
    QCOMPARE(h.current(), QStringLiteral("still unsaveable\n"));
}

int runOutsideChangeTests(int argc, char **argv);
int runPageRequestTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TestCore core;
    int failed = QTest::qExec(&core, argc, argv);
    failed += runOutsideChangeTests(argc, argv);
    failed += runPageRequestTests(argc, argv);
    return failed;
}

#include "tst_core.moc"
