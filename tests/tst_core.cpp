#include "modelharness.h"

#include "core/diskfile.h"
#include "core/documentviews.h"
#include "core/documentmodel.h"
#include "core/filewriter.h"
#include "core/lineendings.h"
#include "core/markdowndocument.h"
#include "core/platformdocument.h"

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
    void editKeepsUntouchedLineBreaks_data();
    void editKeepsUntouchedLineBreaks();

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
    auto opened = MarkdownDocument::open(path);
    if (text.isNull() && !bytes.isEmpty()) {
        QVERIFY(!opened.ok());
        QVERIFY2(opened.error().contains(u"isn\u2019t a text file"), qPrintable(opened.error()));
        return;
    }
    QVERIFY2(opened.ok(), qPrintable(opened.error()));
    QCOMPARE(opened.value()->text(), text);

    PlatformDocument document(std::move(opened).value(), path);
    document.content().setText(text + QStringLiteral("\u00fc"));
    document.updateChangeCount(PlatformDocument::Change::Done);
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
    PlatformDocument document(std::move(MarkdownDocument::open(path)).value(), path);
    FakePrompter prompter;
    document.setPrompter(&prompter);
    document.content().setText(text);
    document.updateChangeCount(PlatformDocument::Change::Done);

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

    QSignalSpy failures(&document, &PlatformDocument::saveFailed);
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
    QCOMPARE(document.content().text(), text);

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
    PlatformDocument document(std::move(MarkdownDocument::open(path)).value(), path);
    FakePrompter prompter;
    document.setPrompter(&prompter);

    scratch.write(QStringLiteral("a.md"), "theirs\n");
    QFile touched(path);
    QVERIFY(touched.open(QIODevice::ReadWrite));
    QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(60),
                                QFileDevice::FileModificationTime));
    touched.close();

    document.content().setText(QStringLiteral("mine, edited\n"));
    document.updateChangeCount(PlatformDocument::Change::Done);
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
    PlatformDocument document(std::make_unique<MarkdownDocument>(QStringLiteral("hello")),
                              QString());
    FakePrompter prompter;
    document.setPrompter(&prompter);
    QSignalSpy moved(&document, &PlatformDocument::filePathChanged);

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
    PlatformDocument document(std::move(MarkdownDocument::open(path)).value(), path);
    FakePrompter prompter;
    prompter.convert = answer == u"convert";
    if (!answer.isEmpty())
        document.setPrompter(&prompter);
    document.content().setText(QStringLiteral("café 日\n"));
    document.updateChangeCount(PlatformDocument::Change::Done);

    QCOMPARE(document.saveDocument(PlatformDocument::SaveKind::Autosave), prompter.convert);
    QCOMPARE(ScratchEnvironment::read(path), saved);
    QCOMPARE(document.isDocumentEdited(), !prompter.convert);
    QCOMPARE(document.content().encoding().isUtf8(), prompter.convert);
    QCOMPARE(prompter.conversionQuestions, answer.isEmpty() ? 0 : 1);
    if (answer == u"decline") { // asked again only when the user saves
        QVERIFY(!document.saveDocument(PlatformDocument::SaveKind::Autosave));
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

    PlatformDocument document(std::move(MarkdownDocument::open(other)).value(), other);
    document.content().setText(QStringLiteral("new\n"));
    document.updateChangeCount(PlatformDocument::Change::Done);
    QVERIFY(document.saveDocument());
    QCOMPARE(ScratchEnvironment::read(target), QByteArray("new\n"));
    QCOMPARE(ScratchEnvironment::read(other), QByteArray("new\n"));
    struct stat a{}, b{};
    QCOMPARE(::stat(from, &a), 0);
    QCOMPARE(::stat(to, &b), 0);
    QCOMPARE(a.st_ino, b.st_ino);
    QCOMPARE(QFileInfo(other).isSymLink(), link == u"symbolic");
}

void TestCore::editKeepsUntouchedLineBreaks_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("typedFrom"); // widget text before
    QTest::addColumn<QString>("typedTo");   // widget text after
    QTest::addColumn<QString>("expected");

    QTest::newRow("crlf-type-in-line") << "ab\r\ncd\r\n" << "ab\ncd\n" << "ab\ncXd\n"
                                       << "ab\r\ncXd\r\n";
    QTest::newRow("crlf-new-line-gets-crlf") << "ab\r\ncd\r\n" << "ab\ncd\n" << "ab\nc\nd\n"
                                             << "ab\r\nc\r\nd\r\n";
    QTest::newRow("crlf-join-lines") << "ab\r\ncd\r\nef" << "ab\ncd\nef" << "abcd\nef"
                                     << "abcd\r\nef";
    QTest::newRow("mixed-kept-away-from-edit") << "a\nb\r\nc\rd" << "a\nb\nc\nd" << "a\nb\nc\nD"
                                               << "a\nb\r\nc\rD";
    QTest::newRow("lone-cr-file") << "a\rb" << "a\nb" << "a\nb\nc" << "a\rb\rc";
    // A lone "\r" and a "\n" brought together by the edit stay two breaks.
    QTest::newRow("deleted-between-cr-and-lf") << "a\rb\nc" << "a\nb\nc" << "a\n\nc"
                                               << "a\r\n\nc";
    QTest::newRow("new-line-after-a-lone-cr") << "x\na\rb" << "x\na\nb" << "x\na\n\nb"
                                              << "x\na\r\n\nb";
    QTest::newRow("new-line-before-a-lf-in-a-cr-file") << "\ra\nb" << "\na\nb"
                                                       << "\nax\n\nb" << "\rax\r\n\nb";
    QTest::newRow("unicode-line-separator") << QString("a") + QChar(0x2028) + "b"
                                            << "a\nb" << "a\nbc"
                                            << QString("a") + QChar(0x2028) + "bc";
    QTest::newRow("empty-file") << "" << "" << "x\ny" << "x\ny";
    QTest::newRow("replace-all") << "a\r\nb" << "a\nb" << "z" << "z";
    QTest::newRow("repeated-letters") << "aa\r\naa" << "aa\naa" << "aa\naaa" << "aa\r\naaa";
    // Only line breaks change in the widget's form: a no-break space, a tab, a byte-order mark
    // and the missing final line break all stay as they are.
    const QString bom(QChar(0xFEFF));
    QTest::newRow("other-characters-kept")
        << bom + "a\u00A0b\tc\r\nd" << bom + "a\u00A0b\tc\nd" << bom + "a\u00A0Xb\tc\nd"
        << bom + "a\u00A0Xb\tc\r\nd";
    QTest::newRow("paragraph-separator") << QString("a") + QChar(0x2029) + "b" << "a\nb"
                                         << "A\nb" << QString("A") + QChar(0x2029) + "b";
}

void TestCore::editKeepsUntouchedLineBreaks()
{
    QFETCH(QString, file);
    QFETCH(QString, typedFrom);
    QFETCH(QString, typedTo);
    QFETCH(QString, expected);
    QCOMPARE(toEditorText(file), typedFrom);
    const QString merged = mergeEditorEdit(file, typedFrom, typedTo);
    QCOMPARE(merged, expected);
    QCOMPARE(toEditorText(merged), typedTo);
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
        model.setFileURL(QUrl::fromLocalFile(path));
    QCOMPARE(model.displayName(), name);
    QCOMPARE(model.docDirURL().toString(QUrl::FullyEncoded), folder);
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
    QSignalSpy saves(h.document.get(), &PlatformDocument::saved);
    for (int i = 0; i <= 10; ++i) { // a change every half second for five seconds
        h.model->setText(QStringLiteral("draft %1\n").arg(i));
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
    QCOMPARE(h.model->lastAutosave(), h.scratch.clock.now());
    QVERIFY(!h.model->dirty());
    h.scratch.clock.advance(10s);
    QCOMPARE(saves.count(), 1);
}

void TestCore::untitledIsNeverAutosaved()
{
    Harness h("", false);
    h.model->setText(QStringLiteral("draft"));
    QVERIFY(h.model->dirty());
    h.scratch.clock.advance(1s);
    QVERIFY(!h.model->dirty());
    QCOMPARE(h.prompter.pathRequests, 0);
    h.model->saveNow();
    QCOMPARE(h.prompter.pathRequests, 1);
}

void TestCore::explicitSaveOverridesAnOutsideChange()
{
    Harness h;
    h.model->setText(QStringLiteral("mine\n"));
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    h.model->setExternalContent(QStringLiteral("theirs\n"));
    h.model->saveNow();
    QVERIFY(!h.model->externalContent());
    QCOMPARE(h.onDisk(), QByteArray("mine\n"));
    QCOMPARE(h.prompter.overwriteQuestions, 0); // the date was synced from disk first
    QCOMPARE(h.scratch.clock.pendingCount(), 1); // only the first dirty check
}

void TestCore::explicitSaveInVisualFlushesFirst()
{
    Harness h;
    h.model->setMode(Mode::Visual);
    h.model->setText(QStringLiteral("typed\n"));
    h.model->saveNow();
    QCOMPARE(preview().flushes, 1);
    QCOMPARE(h.onDisk(), QByteArray("typed\n"));
}

void TestCore::dirtyFollowsTheDocumentAfterASave()
{
    Harness h;
    QSignalSpy dirty(h.model.get(), &DocumentModel::dirtyChanged);
    h.model->setText(QStringLiteral("one\n"));
    h.model->saveNow();
    QVERIFY(!h.model->dirty());

    // Changed again behind the model's back during the checks: they run to the last one.
    h.document->updateChangeCount(PlatformDocument::Change::Done);
    h.scratch.clock.advance(250ms * DocumentModel::kLastDirtyCheck);
    QVERIFY(!h.model->dirty());
    QCOMPARE(h.scratch.clock.pendingCount(), 1);
    h.scratch.clock.advance(250ms);
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
    h.model->setText(QStringLiteral("unsaveable\n"));
    h.scratch.clock.advance(1s);
    QVERIFY(h.model->dirty());
    QCOMPARE(h.prompter.errors.size(), 1);
    h.scratch.clock.advance(6s);
    QVERIFY(h.model->dirty());
    QCOMPARE(h.scratch.clock.pendingCount(), 0);
    h.model->setText(QStringLiteral("still unsaveable\n"));
    h.scratch.clock.advance(1s);
    QCOMPARE(h.prompter.errors.size(), 1); // one alert for a run of failures
    QCOMPARE(h.model->getText(), QStringLiteral("still unsaveable\n"));
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
