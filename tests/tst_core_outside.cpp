// Watching the file and deciding what an outside change means; the file's theme.

#include "modelharness.h"

#include "core/diskfile.h"
#include "core/filewatcher.h"
#include "themes/filethemes.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using quorvel::themes::FileThemes;
using quorvel::themes::ThemeKind;

namespace {

void append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::Append) || file.write(bytes) != bytes.size())
        qFatal("cannot append to a test file");
}

// As editors save: a new file beside the old one, renamed over it.
void replaceAtomically(const QString &path, const QByteArray &bytes)
{
    const QString temp = path + QStringLiteral(".tmp~");
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
    file.close();
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(path).constData()))
        qFatal("cannot rename a test file");
}

// Written by another program a minute from now, so that the file is newer than any version the
// document knows, whatever the clock's resolution.
void writeNewer(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)
        || !file.setFileTime(QDateTime::currentDateTime().addSecs(60),
                             QFileDevice::FileModificationTime))
        qFatal("cannot date a test file");
}

// The kernel's events are real; only the merge delay runs on the manual clock.
[[nodiscard]] bool settle(ManualScheduler &clock, const FileWatcher *watcher)
{
    if (!QTest::qWaitFor([watcher] { return watcher->hasPendingNotification(); }, 5000))
        return false;
    QCoreApplication::processEvents();
    clock.advance(FileWatcher::kMergeDelay);
    return true;
}

} // namespace

class TestOutsideChanges : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // the watcher
    void burstOfWritesGivesOneNotification();
    void eachChangeOfTheFolderNotifiesOnce_data();
    void eachChangeOfTheFolderNotifiesOnce();
    void destroyedWatcherStaysSilent();

    // the decision
    void ownSaveIsNeverAnOutsideChange_data();
    void ownSaveIsNeverAnOutsideChange();
    void outsideChangeReloadsOrAsks_data();
    void outsideChangeReloadsOrAsks();
    void diskBackAtTheWindowsTextClosesTheBanner();
    void bannerHoldsAcrossAutosaves();
    void reloadAppliesTheOfferedText();
    void ignoreLetsTheNextSaveWin_data();
    void ignoreLetsTheNextSaveWin();
    void autosaveBeforeTheNoticeDoesNotOverwrite();
    void outsideVersionIsReadLikeAnOpenedFile_data();
    void outsideVersionIsReadLikeAnOpenedFile();
    void outsideMoveIsFollowedOrReported_data();
    void outsideMoveIsFollowedOrReported();
    void aNewFileOnAFreedInodeIsNoRename();
    void anAppendWhileTheSaveFlushesIsOffered();
    void appendsWhileTypingAreNeverLost_data();
    void appendsWhileTypingAreNeverLost();

    // the file's theme
    void perFileOffAssignsNothing();
    void newFilesAvoidThemesOnScreen();
    void choosingAThemeChangesOneWindowOrAll();
    void untitledKeepsItsThemeThroughTheFirstSave();
    void turningPerFileOnResolvesEveryWindowInOrder();
    void ownSavesDoNotLoseTheThemeAcrossARename();

private:
    std::optional<FakePreviewFactory> m_fakes;
    PreviewCalls &preview() { return m_fakes->calls; }
};

void TestOutsideChanges::init()
{
    m_fakes.emplace();
}

void TestOutsideChanges::cleanup()
{
    m_fakes.reset();
}

void TestOutsideChanges::burstOfWritesGivesOneNotification()
{
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "a\n");
    int calls = 0;
    FileWatcher watcher(path, scratch.clock, [&calls] { ++calls; });
    QVERIFY(watcher.isWatchingFile());
    QVERIFY(watcher.isWatchingFolder());
    for (int i = 0; i < 5; ++i) {
        append(path, "more\n");
        QVERIFY(QTest::qWaitFor([&] { return watcher.hasPendingNotification(); }, 5000));
        QCoreApplication::processEvents();
        scratch.clock.advance(100ms);
    }
    QCOMPARE(calls, 0);
    scratch.clock.advance(199ms);
    QCOMPARE(calls, 0);
    scratch.clock.advance(1ms);
    QCOMPARE(calls, 1);
}

void TestOutsideChanges::eachChangeOfTheFolderNotifiesOnce_data()
{
    // In turn: "replace" as editors save, "append" in place, "remove", "write" it anew, or
    // write "other" files of the folder; after each, whether the file itself is watched.
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QList<bool>>("watching");
    QTest::newRow("atomic-replace-moves-the-watch")
        << QStringList{u"replace"_s, u"append"_s} << QList<bool>{true, true};
    QTest::newRow("deleted-then-back")
        << QStringList{u"remove"_s, u"write"_s, u"append"_s} << QList<bool>{false, true, true};
    QTest::newRow("another-file") << QStringList{u"other"_s} << QList<bool>{true};
}

void TestOutsideChanges::eachChangeOfTheFolderNotifiesOnce()
{
    QFETCH(QStringList, changes);
    QFETCH(QList<bool>, watching);
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "a\n");
    int calls = 0;
    FileWatcher watcher(path, scratch.clock, [&calls] { ++calls; });
    for (int i = 0; i < changes.size(); ++i) {
        const QString &change = changes[i];
        if (change == u"replace")
            replaceAtomically(path, "replaced\n");
        else if (change == u"append")
            append(path, "written in place\n");
        else if (change == u"remove")
            QVERIFY(QFile::remove(path));
        else
            scratch.write(change == u"write" ? u"a.md"_s : u"other.md"_s, "back\n");
        QVERIFY2(settle(scratch.clock, &watcher), qPrintable(change));
        QCOMPARE(calls, i + 1);
        scratch.clock.advance(FileWatcher::kRearmDelay);
        QCOMPARE(calls, i + 1);
        QCOMPARE(watcher.isWatchingFile(), watching[i]);
    }
}

void TestOutsideChanges::destroyedWatcherStaysSilent()
{
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "a\n");
    int calls = 0;
    auto watcher = std::make_unique<FileWatcher>(path, scratch.clock, [&calls] { ++calls; });
    auto other = std::make_unique<FileWatcher>(path, scratch.clock, [] {});
    append(path, "x\n");
    QVERIFY(QTest::qWaitFor([&] { return watcher->hasPendingNotification(); }, 5000));
    watcher.reset();
    scratch.clock.advance(1s);
    append(path, "y\n"); // the shared watch still serves the other watcher
    QVERIFY(settle(scratch.clock, other.get()));
    QCOMPARE(calls, 0);
}

void TestOutsideChanges::ownSaveIsNeverAnOutsideChange_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("utf8") << QByteArray("start\n");
    QTest::newRow("latin1") << QByteArray("caf\xe9\n");
    QTest::newRow("utf16-byte-order-mark") << QByteArray("\xff\xfeh\0\n\0", 6);
}

void TestOutsideChanges::ownSaveIsNeverAnOutsideChange()
{
    QFETCH(QByteArray, bytes);
    Harness h(bytes);
    QSignalSpy banner(h.document, &DocumentFile::externalContentChanged);
    const QString start = h.current();
    h.setText(start + QStringLiteral("saved\n"));
    h.scratch.clock.advance(1s);
    QVERIFY(h.onDisk().startsWith(bytes));
    h.setText(start + QStringLiteral("saved\nand typed on\n")); // before the watcher reports
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    QCOMPARE(banner.count(), 0);
    QCOMPARE(h.current(), start + QStringLiteral("saved\nand typed on\n"));
}

void TestOutsideChanges::outsideChangeReloadsOrAsks_data()
{
    QTest::addColumn<bool>("autoReload");
    QTest::addColumn<bool>("unsaved");
    QTest::addColumn<bool>("silent");
    QTest::newRow("auto-reload-clean") << true << false << true;
    QTest::newRow("auto-reload-unsaved") << true << true << false;
    QTest::newRow("no-auto-reload-clean") << false << false << false;
    QTest::newRow("no-auto-reload-unsaved") << false << true << false;
}

void TestOutsideChanges::outsideChangeReloadsOrAsks()
{
    QFETCH(bool, autoReload);
    QFETCH(bool, unsaved);
    QFETCH(bool, silent);
    Harness h;
    h.scratch.appearance.setAutoReload(autoReload);
    if (unsaved)
        h.setText(QStringLiteral("mine\n"));
    QSignalSpy attention(h.model, &DocumentModel::attentionRequested);
    const QString windowText = h.current();

    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));

    if (silent) {
        QCOMPARE(h.current(), QStringLiteral("theirs\n"));
        QVERIFY(!h.document->externalContent());
        QCOMPARE(h.origins.last(), EditOrigin::Disk);
        QCOMPARE(preview().reloads, 1);
        QVERIFY(!h.model->dirty());
        QVERIFY(!h.document->isDocumentEdited());
        h.scratch.clock.advance(2s);
        QCOMPARE(h.onDisk(), QByteArray("theirs\n"));
        return;
    }
    QCOMPARE(h.current(), windowText);
    QCOMPARE(h.document->externalContent(), QStringLiteral("theirs\n"));
    QCOMPARE(h.document->externalChangeDate(), QFileInfo(h.document->filePath()).lastModified());
    QCOMPARE(attention.count(), 1);
    QVERIFY(!h.origins.contains(EditOrigin::Disk));
}

void TestOutsideChanges::diskBackAtTheWindowsTextClosesTheBanner()
{
    Harness h("mine\n");
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    QVERIFY(h.document->externalContent());
    const auto shownAt = h.document->externalChangeDate();
    h.scratch.write(QStringLiteral("note.md"), "mine\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    QVERIFY(!h.document->externalContent());
    QCOMPARE(h.document->externalChangeDate(), shownAt); // kept after the banner closes
}

void TestOutsideChanges::bannerHoldsAcrossAutosaves()
{
    Harness h;
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    for (int i = 0; i < 3; ++i) {
        h.setText(QStringLiteral("mine %1\n").arg(i));
        h.scratch.clock.advance(2s);
    }
    QCOMPARE(h.document->externalContent(), QStringLiteral("theirs\n"));
    QCOMPARE(h.onDisk(), QByteArray("theirs\n"));
    QVERIFY(h.model->dirty());
}

void TestOutsideChanges::reloadAppliesTheOfferedText()
{
    Harness h;
    h.setText(QStringLiteral("mine\n"));
    h.scratch.write(QStringLiteral("note.md"), "offered\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    h.scratch.write(QStringLiteral("note.md"), "newer, not yet seen\n");
    h.model->reloadFromDisk();
    QCOMPARE(h.current(), QStringLiteral("offered\n"));
    QVERIFY(!h.document->externalContent());
    QVERIFY(!h.document->isDocumentEdited());
    // The newer version is offered in turn; nothing of ours was written over it.
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    QCOMPARE(h.document->externalContent(), QStringLiteral("newer, not yet seen\n"));
    QCOMPARE(h.onDisk(), QByteArray("newer, not yet seen\n"));
}

void TestOutsideChanges::ignoreLetsTheNextSaveWin_data()
{
    QTest::addColumn<bool>("unsaved");
    QTest::addColumn<QByteArray>("onDisk");
    QTest::newRow("with-unsaved-changes") << true << QByteArray("mine\n");
    QTest::newRow("without-changes") << false << QByteArray("theirs\n");
}

void TestOutsideChanges::ignoreLetsTheNextSaveWin()
{
    QFETCH(bool, unsaved);
    QFETCH(QByteArray, onDisk);
    Harness h("start\n");
    if (unsaved)
        h.setText(QStringLiteral("mine\n"));
    h.scratch.write(QStringLiteral("note.md"), "theirs\n");
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    h.document->ignoreExternalChange();
    QVERIFY(!h.document->externalContent());
    h.scratch.clock.advance(1s);
    QCOMPARE(h.onDisk(), onDisk);
    QCOMPARE(h.prompter.overwriteQuestions, 0);
}

void TestOutsideChanges::autosaveBeforeTheNoticeDoesNotOverwrite()
{
    Harness h;
    h.setText(QStringLiteral("mine\n"));
    h.scratch.write(QStringLiteral("note.md"), "theirs, written a moment before the save\n");
    h.scratch.clock.advance(1s); // no event has been delivered yet
    QCOMPARE(h.onDisk(), QByteArray("theirs, written a moment before the save\n"));
    QCOMPARE(h.document->externalContent(),
             QStringLiteral("theirs, written a moment before the save\n"));
    QCOMPARE(h.current(), QStringLiteral("mine\n"));
}

void TestOutsideChanges::outsideVersionIsReadLikeAnOpenedFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("offered"); // null: nothing to offer
    QTest::newRow("latin1") << "note.md" << QByteArray("caf\xe9\n") << QStringLiteral("café\n");
    QTest::newRow("ends-in-a-cut-sequence") << "note.md" << QByteArray("Caf\xe9")
                                            << QStringLiteral("Café");
    QTest::newRow("not-text") << "note.md" << QByteArray("a\0b", 3) << QString();
    QTest::newRow("another-file") << "other.md" << QByteArray("other\n") << QString();
    // Put where the note was by another program: looked at without waiting on it, as a plain
    // open would, with the window frozen.
    QTest::newRow("fifo-in-its-place") << "fifo" << QByteArray() << QString();
    // A link's text is another file's: neither offered nor written through.
    QTest::newRow("link-in-its-place") << "link" << QByteArray() << QString();
}

void TestOutsideChanges::outsideVersionIsReadLikeAnOpenedFile()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, offered);
    Harness h("start\n");
    const QString note = h.scratch.path(QStringLiteral("note.md"));
    const QString secret = h.scratch.write(QStringLiteral("secret"), "secret\n");
    if (file == u"fifo" || file == u"link") {
        QVERIFY(QFile::remove(note));
        QVERIFY(file == u"link" ? QFile::link(secret, note)
                                : ::mkfifo(QFile::encodeName(note).constData(), 0600) == 0);
    } else {
        writeNewer(h.scratch.write(file, bytes));
    }
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    QCOMPARE(h.document->externalContent(), offered.isNull() ? std::nullopt : std::optional(offered));
    QCOMPARE(h.current(), QStringLiteral("start\n"));
    if (file == u"fifo" || file == u"link") {
        QVERIFY(!h.document->fileReplacedBy().isEmpty());
        h.setText(QStringLiteral("mine\n"));
        h.scratch.clock.advance(1s);
        QCOMPARE(ScratchEnvironment::read(secret), QByteArray("secret\n"));
        // Asked for, the text takes the path as an ordinary file; what the link named stays.
        h.model->saveNow();
        QVERIFY(QFileInfo(note).isFile() && !QFileInfo(note).isSymLink());
        QCOMPARE(h.onDisk(), QByteArray("mine\n"));
        QCOMPARE(ScratchEnvironment::read(secret), QByteArray("secret\n"));
        QVERIFY(h.document->fileReplacedBy().isEmpty());
        return;
    }

    if (!offered.isNull()) {
        // Reloaded, the outside version is saved back in its own encoding.
        h.model->reloadFromDisk();
        QCOMPARE(h.current(), offered);
        h.setText(offered + QStringLiteral("\u00fc"));
        h.scratch.clock.advance(1s);
        QCOMPARE(h.onDisk(), bytes + "\xfc");
    } else if (file == u"note.md") {
        // A version that cannot be shown is not written over unasked, and asked about once,
        // not at every autosave; an explicit save asks again.
        for (int i = 0; i < 2; ++i) {
            h.setText(QStringLiteral("mine %1\n").arg(i));
            h.scratch.clock.advance(1s);
        }
        QCOMPARE(h.prompter.overwriteQuestions, 1);
        h.model->saveNow();
        QCOMPARE(h.prompter.overwriteQuestions, 2);
        QCOMPARE(h.onDisk(), bytes);
        return;
    }
    QCOMPARE(h.prompter.overwriteQuestions, 0);
}

void TestOutsideChanges::aNewFileOnAFreedInodeIsNoRename()
{
    ScratchEnvironment scratch;
    const QString path = scratch.write(QStringLiteral("a.md"), "mine\n");
    DiskFile disk(scratch.clock);
    disk.watch(path, [] {});
    const QString other = scratch.write(QStringLiteral("settings.conf"), "[General]\n");
    DiskFile otherDisk(scratch.clock);
    otherDisk.watch(other, [] {});
    QVERIFY(QFile::remove(path));

    // The note as last seen had the inode the new file has now, as after the inode's reuse,
    // but not its time and size: no rename.
    DiskAttributes reused = otherDisk.lastSeen();
    reused.modifiedNs -= 1'000'000;
    reused.size = *reused.size + 1;
    disk.setLastSeen(reused);
    QCOMPARE(disk.findRenamed(), std::nullopt);
    // All of it alike is the file itself, renamed.
    disk.setLastSeen(otherDisk.lastSeen());
    QCOMPARE(disk.findRenamed(), std::optional(other));
}

void TestOutsideChanges::outsideMoveIsFollowedOrReported_data()
{
    QTest::addColumn<QString>("move");
    QTest::addColumn<QString>("then");
    QTest::newRow("renamed-in-its-folder") << "renamed.md" << "";
    QTest::newRow("moved-to-another-folder") << "elsewhere/moved.md" << "save-again";
    QTest::newRow("deleted") << "" << "written-again";
}

void TestOutsideChanges::outsideMoveIsFollowedOrReported()
{
    QFETCH(QString, move);
    QFETCH(QString, then);
    Harness h("mine\n");
    h.model->chooseTheme(ThemeKind::Ink);
    const QString old = h.document->filePath();
    const QString moved = h.scratch.path(move);
    QVERIFY(QDir(h.scratch.dir.path()).mkpath(QStringLiteral("elsewhere")));
    QSignalSpy banner(h.document, &DocumentFile::externalContentChanged);
    QVERIFY(move.isEmpty() ? QFile::remove(old) : QFile::rename(old, moved));
    QVERIFY(settle(h.scratch.clock, h.document->watcher()));
    h.scratch.clock.advance(FileWatcher::kRearmDelay);

    h.setText(QStringLiteral("mine, typed on\n"));
    h.scratch.clock.advance(1s);
    QVERIFY(!QFile::exists(old)); // never recreated behind the user's back
    QCOMPARE(banner.count(), 0);
    QCOMPARE(h.document->fileMissing(), !then.isEmpty());

    if (then.isEmpty()) {
        QCOMPARE(h.document->filePath(), moved);
        QCOMPARE(h.model->fileUrl(), QUrl::fromLocalFile(moved));
        QCOMPARE(ScratchEnvironment::read(moved), QByteArray("mine, typed on\n"));
        QCOMPARE(h.scratch.fileThemes.theme(moved), ThemeKind::Ink);
        QVERIFY(!h.model->dirty());
        return;
    }
    QCOMPARE(h.document->filePath(), old);
    QVERIFY(h.model->dirty());
    if (then == u"save-again") {
        h.model->saveNow();
        QCOMPARE(ScratchEnvironment::read(old), QByteArray("mine, typed on\n"));
        QCOMPARE(ScratchEnvironment::read(moved), QByteArray("mine\n"));
    } else {
        h.scratch.write(QStringLiteral("note.md"), "written again\n");
        QVERIFY(settle(h.scratch.clock, h.document->watcher()));
        QCOMPARE(h.document->externalContent(), QStringLiteral("written again\n"));
        QCOMPARE(h.current(), QStringLiteral("mine, typed on\n"));
    }
    QVERIFY(!h.document->fileMissing());
}

void TestOutsideChanges::perFileOffAssignsNothing()
{
    Harness h;
    h.scratch.appearance.setThemePerFile(false);
    h.scratch.appearance.setTheme(ThemeKind::Cream);
    h.model->resolveFileTheme();
    QVERIFY(!h.model->fileTheme());
    QCOMPARE(h.scratch.fileThemes.count(), 0);
    QCOMPARE(h.model->theme(), ThemeKind::Cream);
}

void TestOutsideChanges::newFilesAvoidThemesOnScreen()
{
    ScratchEnvironment scratch;
    scratch.appearance.setTheme(ThemeKind::Sepia);
    Harness first(&scratch, QStringLiteral("a.md"), "a");
    first.model->resolveFileTheme();
    QCOMPARE(first.model->fileTheme(), ThemeKind::Sepia);

    Harness second(&scratch, QStringLiteral("b.md"), "b");
    second.model->chooseTheme(ThemeKind::Dark); // dark is on screen now
    first.model->chooseTheme(ThemeKind::Mist);  // and so is mist, the next of the rotation
    Harness third(&scratch, QStringLiteral("c.md"), "c");
    third.model->resolveFileTheme();
    QCOMPARE(third.model->fileTheme(), ThemeKind::Linen);
    QCOMPARE(scratch.store.string(QStringLiteral("lastAssignedTheme")), QStringLiteral("linen"));

    second.window.setProperty("visible", false); // hidden windows are not avoided
    Harness fourth(&scratch, QStringLiteral("d.md"), "d");
    scratch.store.setValue(QStringLiteral("lastAssignedTheme"), QStringLiteral("mist"));
    fourth.model->resolveFileTheme();
    QCOMPARE(fourth.model->fileTheme(), ThemeKind::Dark);
}

void TestOutsideChanges::choosingAThemeChangesOneWindowOrAll()
{
    ScratchEnvironment scratch;
    Harness a(&scratch, QStringLiteral("a.md"), "a");
    Harness b(&scratch, QStringLiteral("b.md"), "b");
    a.model->resolveFileTheme();
    b.model->resolveFileTheme();
    QSignalSpy bAppearance(b.model, &DocumentModel::windowAppearanceChanged);

    a.model->chooseTheme(ThemeKind::Dark);
    QCOMPARE(a.model->theme(), ThemeKind::Dark);
    QVERIFY(b.model->theme() != ThemeKind::Dark);
    QCOMPARE(bAppearance.count(), 0);
    scratch.fileThemes.flush();
    FileThemes reread(scratch.store);
    QCOMPARE(reread.theme(a.document->filePath()), ThemeKind::Dark);

    scratch.appearance.setThemePerFile(false);
    b.model->chooseTheme(ThemeKind::Ink);
    QCOMPARE(scratch.appearance.theme(), ThemeKind::Ink);
    QCOMPARE(a.model->theme(), ThemeKind::Ink);
    QCOMPARE(a.model->fileTheme(), ThemeKind::Dark); // kept, not shown
}

void TestOutsideChanges::untitledKeepsItsThemeThroughTheFirstSave()
{
    Harness h("", false);
    connect(h.document, &DocumentFile::filePathChanged, h.model,
            [&h](const QString &path) {
                h.model->setFileUrl(QUrl::fromLocalFile(path));
                h.model->resolveFileTheme();
            });
    h.model->resolveFileTheme();
    const auto given = h.model->fileTheme();
    QVERIFY(given);
    QCOMPARE(h.scratch.fileThemes.count(), 0);

    h.setText(QStringLiteral("draft"));
    h.prompter.savePath = h.scratch.path(QStringLiteral("saved.md"));
    h.model->saveNow();
    QCOMPARE(h.model->fileTheme(), given);
    h.scratch.fileThemes.flush();
    FileThemes reread(h.scratch.store);
    QCOMPARE(reread.theme(*h.prompter.savePath), given);
}

void TestOutsideChanges::turningPerFileOnResolvesEveryWindowInOrder()
{
    ScratchEnvironment scratch;
    scratch.appearance.setThemePerFile(false);
    Harness a(&scratch, QStringLiteral("a.md"), "a");
    Harness b(&scratch, QStringLiteral("b.md"), "b");
    Harness c(&scratch, QStringLiteral("c.md"), "c");
    for (Harness *h : {&a, &b, &c})
        h->model->resolveFileTheme();
    QVERIFY(!a.model->fileTheme());

    scratch.appearance.setThemePerFile(true);
    QCOMPARE(a.model->fileTheme(), ThemeKind::LightSans);
    QCOMPARE(b.model->fileTheme(), ThemeKind::Sepia);
    QCOMPARE(c.model->fileTheme(), ThemeKind::Mist);
    QCOMPARE(scratch.fileThemes.count(), 3);
}

void TestOutsideChanges::ownSavesDoNotLoseTheThemeAcrossARename()
{
    ScratchEnvironment scratch;
    QString path;
    {
        Harness h(&scratch, QStringLiteral("a.md"), "a");
        h.model->chooseTheme(ThemeKind::SolarizedLight);
        for (int i = 0; i < 3; ++i) { // each save puts a new file (a new inode) at the path
            h.setText(QStringLiteral("edit %1").arg(i));
            h.scratch.clock.advance(1s);
        }
        path = h.document->filePath();
    }
    const QString renamed = scratch.path(QStringLiteral("renamed.md"));
    QVERIFY(QFile::rename(path, renamed));
    scratch.fileThemes.flush();
    FileThemes reread(scratch.store);
    QCOMPARE(reread.count(), 1);
    QCOMPARE(reread.theme(renamed), ThemeKind::SolarizedLight);
}

// Another program appends the moment the save's copy appears, while the copy is written and
// flushed: its line is offered, and never written over.
void TestOutsideChanges::anAppendWhileTheSaveFlushesIsOffered()
{
    Harness h("start\n");
    const QFileInfo note(h.document->filePath());
    const int events = inotify_init1(IN_CLOEXEC);
    QVERIFY(events >= 0);
    QVERIFY(inotify_add_watch(events, QFile::encodeName(note.absolutePath()).constData(), IN_CREATE)
            >= 0);
    std::atomic<bool> appended = false;
    std::thread other([&] {
        alignas(inotify_event) char buffer[4096];
        pollfd ready{events, POLLIN, 0};
        while (!appended && ::poll(&ready, 1, 10'000) == 1) {
            const ssize_t size = ::read(events, buffer, sizeof buffer);
            for (ssize_t at = 0; at < size;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                at += ssize_t(sizeof(inotify_event) + event->len);
                if (!appended && event->len && QByteArray(event->name).startsWith(".note.md.")) {
                    append(note.filePath(), "theirs\n");
                    appended = true;
                }
            }
        }
    });
    // Long enough that writing and flushing the copy outlasts the other program's reaction.
    const QString mine = QStringLiteral("mine\n") + QStringLiteral("0123456789abcde\n").repeated(1 << 17);
    h.setText(mine);
    h.scratch.clock.advance(1s);
    other.join();
    ::close(events);
    QVERIFY(appended);
    QVERIFY(h.onDisk().endsWith("theirs\n"));
    QVERIFY(waitUntil([&] {
        h.scratch.clock.advance(FileWatcher::kMergeDelay);
        return h.document->externalContent() && h.document->externalContent()->endsWith(u"theirs\n");
    }, 5000));
    QCOMPARE(h.current(), mine);
}

void TestOutsideChanges::appendsWhileTypingAreNeverLost_data()
{
    QTest::addColumn<bool>("autoReload");
    QTest::newRow("offered") << false;
    QTest::newRow("reloaded-when-clean") << true;
}

// Another program appends twenty lines a second while the user types at the top, lets autosave
// run in their pauses and, whenever an outside version is offered, takes it and types their
// unsaved lines again. In the end every appended line is on disk and every typed line in the
// text: no save wrote over an append the model had not seen, no reload over unsaved typing.
void TestOutsideChanges::appendsWhileTypingAreNeverLost()
{
    QFETCH(bool, autoReload);
    constexpr int kAppends = 60;
    Harness h("# top\n");
    h.scratch.appearance.setAutoReload(autoReload);
    const QByteArray path = QFile::encodeName(h.document->filePath());
    std::atomic<int> appended = 0;
    std::thread writer([&] {
        for (int k = 0; k < kAppends; ++k) {
            const QByteArray line = "outside " + QByteArray::number(k) + '\n';
            const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd < 0 || ::write(fd, line.constData(), size_t(line.size())) != line.size())
                qFatal("cannot append to the note");
            ::close(fd);
            appended = k + 1;
            std::this_thread::sleep_for(50ms); // the other program's pace
        }
    });

    QStringList typed;
    const auto typeAgainOnTheOfferedText = [&] {
        if (!h.document->externalContent())
            return;
        h.model->reloadFromDisk();
        QString text = h.current();
        for (const QString &line : std::as_const(typed)) {
            if (!text.contains(line))
                text.insert(6, line); // after "# top\n"
        }
        h.setText(text);
        // A pause at once: the save races the next append.
        h.scratch.clock.advance(1100ms);
    };
    for (int seen = 0; seen < kAppends;) {
        if (!waitUntil([&] { return appended > seen; }, 10'000))
            break;
        seen = appended;
        typed << QStringLiteral("typed %1\n").arg(typed.size());
        h.setText(QString(h.current()).insert(6, typed.last()));
        // Every third line a pause long enough for autosave; the watcher's merges fall due too.
        h.scratch.clock.advance(typed.size() % 3 ? 150ms : 1100ms);
        typeAgainOnTheOfferedText();
    }
    writer.join();
    QCOMPARE(int(appended), kAppends);
    // The last append is seen by the watcher or by the save's own look at the disk.
    const QString last = QStringLiteral("outside %1\n").arg(kAppends - 1);
    QVERIFY(waitUntil([&] {
        h.scratch.clock.advance(1100ms);
        typeAgainOnTheOfferedText();
        return !h.document->isDocumentEdited() && !h.document->externalContent()
            && h.current().contains(last);
    }, 10'000));

    const QByteArray disk = h.onDisk();
    QCOMPARE(QString::fromUtf8(disk), h.current());
    for (int k = 0; k < kAppends; ++k)
        QVERIFY2(disk.contains(QByteArray("outside " + QByteArray::number(k) + '\n')),
                 qPrintable(QString::number(k)));
    for (const QString &line : std::as_const(typed))
        QVERIFY2(disk.contains(line.toUtf8()), qPrintable(line));
}

int runOutsideChangeTests(int argc, char **argv)
{
    TestOutsideChanges tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_core_outside.moc"
