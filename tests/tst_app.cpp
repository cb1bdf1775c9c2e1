#include "menusupport.h"
#include "modelharness.h"
#include "testsupport.h"

#include "app/application.h"
#include "app/documentcontroller.h"
#include "app/aboutdialog.h"
#include "app/documentwindow.h"
#include "app/shortcutswindow.h"
#include "app/findbar.h"
#include "app/outlinesidebar.h"
#include "app/statusbar.h"
#include "app/sourcefindbar.h"
#include "app/reloadbanner.h"
#include "core/filewatcher.h"
#include "themes/themekind.h"
#include "core/documenttext.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStatusBar>
#include <QSplitter>
#include <QScopeGuard>
#include <QStyle>
#include <QTest>
#include <QToolButton>
#include <QToolBar>
#include <QToolTip>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::DocumentController;
using app::DocumentWindow;
using Mode = core::DocumentModel::Mode;

class TestApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void engineFlagsAddOursWhereTheUsersDoNotChoose_data();
    void engineFlagsAddOursWhereTheUsersDoNotChoose();
    void editorWritesOnlyWhatWasTyped_data();
    void editorWritesOnlyWhatWasTyped();
    void spellingFollowsThePreferenceInEveryWindow();
    void alertsWearTheirWindowsTheme();
    void collapsedOutlineGivesItsColumnToThePage();
    void toolbarButtonsAllSayWhatTheyDo();
    void alertsAreSizedToTheirText_data();
    void alertsAreSizedToTheirText();
    void closingKeepsWhatWasTyped_data();
    void closingKeepsWhatWasTyped();
    void unreadableFilesOpenNoWindow_data();
    void unreadableFilesOpenNoWindow();
    void aNewPathOpensEmptyAndIsWrittenAtTheFirstSave();
    void openingAnOpenFileRaisesItsWindow();
    void theNextWindowOpensWithTheLastFrame();
    void menuItemsFollowTheirEnablingRules();
    void editItemsAreEnabledWhereTheyCanAct_data();
    void editItemsAreEnabledWhereTheyCanAct();
    void oneUndoKeyPressTakesBackOneStep_data();
    void oneUndoKeyPressTakesBackOneStep();
    void shortcutsWindowListsTheActionsAndFilters();
    void aboutNamesTheVersion();
    void recentDocumentsAreNewestFirstAndStillThere();
    void pastingAnImageIntoAnUntitledDraftSaysWhy();
    void imagesPastedIntoTheSourceAreStoredBesideTheNote();
    void presentationHidesTheChromeAndGivesItBack_data();
    void presentationHidesTheChromeAndGivesItBack();
    void statusBarCountsTheSourceSelection();

    // find
    void findBarShowsThePagesAnswer_data();
    void findBarShowsThePagesAnswer();
    void escapeClosesTheFindBarKeepingTheQuery();
    void findNextWithTheBarHiddenOnlyOpensIt();
    void sourceModeHasAFindOfItsOwn();
    void sourceFindCountsEveryMatchButMarksOnlyTheScreen();
    void sourceFindSelectsMatchesInALongLine_data();
    void sourceFindSelectsMatchesInALongLine();
    void sourceReplaceChangesOnlyTheMatches_data();
    void sourceReplaceChangesOnlyTheMatches();
    void pageReplaceStartsAtThePagesMatch_data();
    void pageReplaceStartsAtThePagesMatch();
    void splitViewFindsInTheFocusedPane();

    // outside changes, on the real clock and real kernel events
    void outsideAppendsWhileTypingLoseNothing_data();
    void outsideAppendsWhileTypingLoseNothing();
    void ownSaveBurstNeverShowsTheBanner();
    void deletedFileKeepsTheWindowAndIsNoticedAgain();

private:
    void useRealClock();
    // Opens the note in a window with the focus in its source, and shows it in `mode` if given.
    DocumentWindow *open(const QByteArray &bytes, std::optional<Mode> mode = {});
    static void answerNextDialog(QMessageBox::StandardButton button);
    static void press(DocumentWindow *window, QKeyCombination key);

    std::unique_ptr<ScratchEnvironment> m_scratch;
};

void TestApp::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    DocumentController::shared().setAlertsEnabled(false);
    DocumentController::shared().setModelEnvironment(m_scratch->env());
}

void TestApp::cleanup()
{
    for (auto *window : DocumentController::shared().windows()) {
        window->document().updateChangeCount(core::DocumentFile::Change::Cleared);
        window->text().replaceAll(QString(), EditOrigin::SourceEditor);
        delete window;
    }
    m_scratch.reset();
}

void TestApp::useRealClock()
{
    DocumentController::shared().setModelEnvironment(
        {core::Scheduler::main(), m_scratch->store, m_scratch->appearance, m_scratch->fileThemes});
}

DocumentWindow *TestApp::open(const QByteArray &bytes, std::optional<Mode> mode)
{
    const QString path = m_scratch->write(QStringLiteral("note.md"), bytes);
    DocumentWindow *window = DocumentController::shared().openDocument(path);
    if (window) {
        window->activateWindow();
        window->sourceEditor()->setFocus();
        if (mode)
            window->model().setMode(*mode);
    }
    return window;
}

void TestApp::alertsWearTheirWindowsTheme()
{
    app::followOwnerPalettes(*qApp);
    DocumentWindow *window = open("# Dark\n");
    window->model().setFileTheme(themes::ThemeKind::Dark);
    const QColor dark = window->palette().color(QPalette::Window);
    QVERIFY(dark.lightness() < 100);
    QMessageBox box(QMessageBox::Warning, u"Quorvel"_s, u"Something"_s, QMessageBox::Ok, window);
    box.show();
    QCOMPARE(box.palette().color(QPalette::Window), dark);
    QCOMPARE(box.palette().color(QPalette::WindowText), window->palette().color(QPalette::WindowText));

    // A tooltip too, though it sets the application's tooltip colours on itself (light ones, as
    // a desktop's theme gives them).
    const QPalette tips = QToolTip::palette();
    const auto restore = qScopeGuard([tips] { QToolTip::setPalette(tips); });
    QPalette light = QApplication::style()->standardPalette();
    light.setColor(QPalette::ToolTipBase, Qt::white);
    QToolTip::setPalette(light);
    window->show();
    QToolTip::showText(window->mapToGlobal(QPoint(20, 20)), u"Find"_s, window->sourceEditor());
    QWidget *tip = nullptr;
    QTRY_VERIFY((tip = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->windowType() == Qt::ToolTip && w->isVisible())
                return w;
        return static_cast<QWidget *>(nullptr);
    }()));
    QCOMPARE(tip->palette().color(QPalette::ToolTipBase),
             window->palette().color(QPalette::ToolTipBase));
    QVERIFY(tip->palette().color(QPalette::ToolTipBase).lightness() < 100);
    QToolTip::hideText();
}

void TestApp::alertsAreSizedToTheirText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<int>("detailLines"); // at most

    QTest::newRow("short title over a sentence")
        << u"Note not found"_s
        << u"No file named \u201CMissing Note\u201D in \u201Cvault\u201D or the folders inside it."_s
        << 2;
    QTest::newRow("one line") << u"Export failed"_s << u"PDF export failed."_s << 1;
    QTest::newRow("a long explanation keeps a reading measure")
        << u"The file could not be saved"_s
        << QString(u"Your text is still here; it is saved again after your next change. "_s)
               .repeated(4)
        << 8;
}

void TestApp::alertsAreSizedToTheirText()
{
    QFETCH(QString, message);
    QFETCH(QString, detail);
    QFETCH(int, detailLines);
    app::fitAlertsToText(*qApp);
    DocumentWindow *window = open("text\n");
    QMessageBox box(QMessageBox::Warning, u"Quorvel"_s, message, QMessageBox::Ok, window);
    box.setInformativeText(detail);
    box.show();
    auto *label = box.findChild<QLabel *>(u"qt_msgbox_informativelabel"_s);
    QVERIFY(label);
    QTRY_VERIFY(label->isVisible());
    // The lines the detail is broken into at the width it was given.
    const QFontMetrics metrics(label->font());
    const int lines = metrics.boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                           Qt::TextWordWrap, detail)
                          .height()
                      / metrics.lineSpacing();
    QVERIFY2(lines <= detailLines, qPrintable(u"%1 lines in %2 px"_s.arg(lines).arg(label->width())));
    // Never wider than a reading measure, whatever the length.
    QVERIFY(label->width() <= app::kAlertTextWidth + 24);
    QVERIFY(box.findChild<QLabel *>(u"qt_msgbox_label"_s)->font().bold());
}

// Every button of the bar says what it does on hover, and the bar repeats no title: the window's
// own names the file.
void TestApp::toolbarButtonsAllSayWhatTheyDo()
{
    DocumentWindow *window = open("text\n");
    window->show();
    auto *bar = window->findChild<QToolBar *>(u"documentToolbar"_s);
    QVERIFY(bar);
    int buttons = 0;
    for (QToolButton *button : bar->findChildren<QToolButton *>()) {
        if (!button->isVisible())
            continue;
        ++buttons;
        QVERIFY2(!button->toolTip().isEmpty(), qPrintable(button->text()));
    }
    QVERIFY(buttons >= 11);
    QVERIFY(bar->findChildren<QLabel *>().isEmpty());
    QVERIFY(window->windowTitle().startsWith(u"note.md"_s));
}

void TestApp::collapsedOutlineGivesItsColumnToThePage()
{
    DocumentWindow *window = open("# One\n\n## Two\n");
    window->resize(900, 600);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    window->model().setShowOutline(true);
    app::OutlineSidebar *outline = window->outlineSidebar();
    QTRY_VERIFY(outline->width() >= app::OutlineSidebar::kMinimumWidth);
    // The outline shares its column with the backlinks; the page is the last column.
    QWidget *sidebar = outline->parentWidget();
    auto *columns = qobject_cast<QSplitter *>(sidebar->parentWidget());
    QVERIFY(columns);
    QWidget *pageColumn = columns->widget(columns->count() - 1);
    QTRY_VERIFY(pageColumn->width() <= columns->width() - app::OutlineSidebar::kMinimumWidth);
    const int page = pageColumn->width();

    outline->headerButton()->click();
    QTRY_COMPARE(outline->width(), app::OutlineSidebar::kRailWidth);
    QTRY_COMPARE(sidebar->width(), app::OutlineSidebar::kRailWidth);
    QTRY_VERIFY(pageColumn->width() > page + 100);
    outline->headerButton()->click();
    QTRY_VERIFY(outline->width() >= app::OutlineSidebar::kMinimumWidth);
}

void TestApp::answerNextDialog(QMessageBox::StandardButton button)
{
    QTimer::singleShot(0, qApp, [button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        box->button(button)->click();
    });
}

void TestApp::engineFlagsAddOursWhereTheUsersDoNotChoose_data()
{
    QTest::addColumn<QByteArray>("given");
    QTest::addColumn<bool>("sandboxOff");
    QTest::addColumn<QByteArrayList>("expected");
    const QByteArray limit = "--renderer-process-limit=1";
    const QByteArray quiet = "--log-level=3";
    QTest::newRow("sandboxed") << QByteArray() << false << QByteArrayList{limit, quiet};
    QTest::newRow("no sandbox") << QByteArray() << true << QByteArrayList{limit, "--no-zygote", quiet};
    QTest::newRow("no sandbox, said in the flags")
        << QByteArray("--no-sandbox") << false
        << QByteArrayList{"--no-sandbox", limit, "--no-zygote", quiet};
    QTest::newRow("the user's process model")
        << QByteArray(" --process-per-site ") << true
        << QByteArrayList{"--process-per-site", "--no-zygote", quiet};
    QTest::newRow("one process") << QByteArray("--single-process") << true
                                 << QByteArrayList{"--single-process", quiet};
    QTest::newRow("the user's other flags")
        << QByteArray("--js-flags=--expose-gc --lang=de") << false
        << QByteArrayList{"--js-flags=--expose-gc", "--lang=de", limit, quiet};
    QTest::newRow("zygote said already") << QByteArray("--no-zygote") << true
                                         << QByteArrayList{"--no-zygote", limit, quiet};
    QTest::newRow("the user's logging") << QByteArray("--enable-logging --v=1") << false
                                        << QByteArrayList{"--enable-logging", "--v=1", limit};
}

// The engine takes the last of a flag given twice, and refuses to start at all with
// --no-zygote inside its sandbox: each flag once, the user's as given.
void TestApp::engineFlagsAddOursWhereTheUsersDoNotChoose()
{
    QFETCH(QByteArray, given);
    QFETCH(bool, sandboxOff);
    QFETCH(QByteArrayList, expected);
    QCOMPARE(app::engineFlags(given, sandboxOff).split(' '), expected);
}

void TestApp::editorWritesOnlyWhatWasTyped_data()
{
    // Bytes: QString::fromUtf8 would drop a leading byte-order mark on both sides.
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved");
    // Typed at the end: "three", Return, "four", Shift+Return, "5".
    QTest::newRow("crlf-endings") << QByteArray("one\r\ntwo\r\n")
                      << QByteArray("one\r\ntwo\r\nthree\r\nfour\r\n5");
    QTest::newRow("lone-cr-endings") << QByteArray("one\rtwo\r")
                      << QByteArray("one\rtwo\rthree\rfour\r5");
    QTest::newRow("no-break-spaces") << QByteArray("a\u00A0b\ntwo\u00A0\n")
                      << QByteArray("a\u00A0b\ntwo\u00A0\nthree\nfour\n5");
    QTest::newRow("unicode-separators") << QByteArray("a\u2028b\u2029c\n")
                      << QByteArray("a\u2028b\u2029c\nthree\nfour\n5");
    QTest::newRow("tabs-and-bom") << QByteArray("\uFEFFa\tb\n")
                      << QByteArray("\uFEFFa\tb\nthree\nfour\n5");
    QTest::newRow("bom-crlf") << QByteArray("\uFEFF# T\r\n\r\nEnd")
                      << QByteArray("\uFEFF# T\r\n\r\nEndthree\r\nfour\r\n5");
}

void TestApp::editorWritesOnlyWhatWasTyped()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    DocumentWindow *window = open(file, Mode::Source);
    QPlainTextEdit *editor = window->sourceEditor();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral("three"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTest::keyClicks(editor, QStringLiteral("four"));
    QTest::keyClick(editor, Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(editor, QStringLiteral("5"));
    // On disk one second after the last key, not before.
    m_scratch->clock.advance(999ms);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), file);
    QVERIFY(window->model().dirty());
    // The window's title carries the unsaved mark; the toolbar repeats no title of its own.
    QVERIFY(window->isWindowModified());
    QVERIFY(window->windowTitle().contains(u"[*]"_s));
    m_scratch->clock.advance(1ms);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), saved);
    QVERIFY(!window->model().dirty());
    QVERIFY(!window->isWindowModified());
}

void TestApp::closingKeepsWhatWasTyped_data()
{
    QTest::addColumn<bool>("titled");
    QTest::addColumn<QMessageBox::StandardButton>("answer"); // NoButton: nothing is asked
    QTest::addColumn<bool>("closed");
    QTest::newRow("titled-saves-first") << true << QMessageBox::NoButton << true;
    QTest::newRow("untitled-cancel-keeps-it") << false << QMessageBox::Cancel << false;
    QTest::newRow("untitled-dont-save-drops-it") << false << QMessageBox::Discard << true;
}

void TestApp::closingKeepsWhatWasTyped()
{
    QFETCH(bool, titled);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, closed);
    QPointer<DocumentWindow> window =
        titled ? open("start\n") : DocumentController::shared().newDocument();
    window->model().setMode(Mode::Source);
    QTest::keyClicks(window->sourceEditor(), QStringLiteral("x"));
    const QString path = window->filePath();
    if (answer != QMessageBox::NoButton)
        answerNextDialog(answer);
    QCOMPARE(window->close(), closed);
    if (titled)
        QCOMPARE(ScratchEnvironment::read(path), QByteArray("xstart\n"));
    if (!closed)
        QCOMPARE(window->text().text(), QStringLiteral("x"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(window.isNull(), closed);
}

void TestApp::unreadableFilesOpenNoWindow_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder") << "folder" << "is a folder";
    QTest::newRow("missing-folder") << "missing-folder" << "no such file";
    QTest::newRow("name-not-utf8") << "name-not-utf8" << "not valid UTF-8";
}

void TestApp::unreadableFilesOpenNoWindow()
{
    QFETCH(QString, what);
    QFETCH(QString, reason);
    QString path = m_scratch->path(QStringLiteral("x.md"));
    if (what == u"folder") {
        QVERIFY(QDir().mkdir(path));
    } else if (what == u"name-not-utf8") {
        const QByteArray bytes = QFile::encodeName(m_scratch->dir.path()) + "/caf\xe9.md";
        QVERIFY(::close(::open(bytes.constData(), O_WRONLY | O_CREAT, 0600)) == 0);
        path = QFile::decodeName(bytes);
    } else {
        path = m_scratch->path(QStringLiteral("gone/x.md"));
    }
    QSignalSpy failed(&DocumentController::shared(), &DocumentController::openFailed);
    QVERIFY(!DocumentController::shared().openDocument(path));
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed.first().at(1).toString().contains(reason));
    QVERIFY(DocumentController::shared().windows().isEmpty());
}

void TestApp::aNewPathOpensEmptyAndIsWrittenAtTheFirstSave()
{
    const QString path = m_scratch->path(QStringLiteral("new.md"));
    DocumentWindow *window = DocumentController::shared().openDocument(path);
    QVERIFY(window);
    QVERIFY(!QFileInfo::exists(path));
    // Nothing typed, nothing written: the file appears with the first keystroke's save.
    m_scratch->clock.advance(5s);
    QVERIFY(!QFileInfo::exists(path));
    window->model().setMode(Mode::Source);
    QTest::keyClicks(window->sourceEditor(), QStringLiteral("Hello"));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(path), QByteArray("Hello"));
}

void TestApp::theNextWindowOpensWithTheLastFrame()
{
    DocumentWindow *first = open("a\n");
    QCOMPARE(first->size(), QSize(882, 916));
    first->resize(700, 500);
    QVERIFY(first->close());
    DocumentWindow *second = DocumentController::shared().newDocument();
    QCOMPARE(second->size(), QSize(700, 500));
}

void TestApp::menuItemsFollowTheirEnablingRules()
{
    const auto item = &menuItem;
    DocumentWindow *titled = open("a\n");
    DocumentWindow *untitled = DocumentController::shared().newDocument();
    QVERIFY(item(titled, u"File"_s, u"Reload from Disk"_s)->isEnabled());
    QVERIFY(!item(untitled, u"File"_s, u"Reload from Disk"_s)->isEnabled());
    QVERIFY(item(untitled, u"File"_s, u"Print\u2026"_s)->isEnabled());

    // Formatting needs somewhere to type: never in the reading view.
    QAction *bold = item(titled, u"Format"_s, u"Bold"_s);
    for (Mode mode : {Mode::Read, Mode::Visual, Mode::Split, Mode::Source, Mode::Read}) {
        titled->model().setMode(mode);
        QCOMPARE(bold->isEnabled(), mode != Mode::Read);
        QVERIFY(item(titled, u"View"_s, u"Reading View"_s)->isChecked() == (mode == Mode::Read));
        QCOMPARE(item(titled, u"Edit"_s, u"Find and Replace\u2026"_s)->isEnabled(),
                 mode != Mode::Read);
    }
    // In the source, Bold wraps the selection.
    titled->model().setMode(Mode::Split);
    titled->sourceEditor()->moveCursor(QTextCursor::Start);
    titled->sourceEditor()->moveCursor(QTextCursor::EndOfLine, QTextCursor::KeepAnchor);
    bold->trigger();
    QCOMPARE(titled->model().text().text(), u"**a**\n"_s);
    delete untitled;
}

void TestApp::editItemsAreEnabledWhereTheyCanAct_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("clipboard"); // empty: nothing on it
    QTest::addColumn<int>("undone");        // steps undone after one edit: -1 for no edit
    QTest::addColumn<QStringList>("enabled");
    const QStringList all{u"Undo"_s, u"Cut"_s, u"Copy"_s, u"Paste"_s, u"Paste as Plain Text"_s,
                          u"Select All"_s};
    QTest::newRow("source-selection-clipboard-edited")
        << Mode::Source << QByteArray("a\n") << true << u"x"_s << 0 << all;
    QTest::newRow("source-caret-empty-clipboard")
        << Mode::Source << QByteArray("a\n") << false << QString() << -1 << QStringList{u"Select All"_s};
    QTest::newRow("source-edit-undone")
        << Mode::Source << QByteArray("a\n") << false << QString() << 1
        << QStringList{u"Redo"_s, u"Select All"_s};
    QTest::newRow("split-source-pane") << Mode::Split << QByteArray("a\n") << true << u"x"_s << -1
                                       << all.mid(1);
    QTest::newRow("empty-note") << Mode::Source << QByteArray() << false << u"x"_s << -1
                                << QStringList{u"Paste"_s, u"Paste as Plain Text"_s};
    // Without a page, the reading view has nothing to act in; the history is not for it.
    QTest::newRow("reading-edited") << Mode::Read << QByteArray("a\n") << false << u"x"_s << 0
                                    << QStringList();
}

void TestApp::editItemsAreEnabledWhereTheyCanAct()
{
    QFETCH(Mode, mode);
    QFETCH(QByteArray, note);
    QFETCH(bool, selected);
    QFETCH(QString, clipboard);
    QFETCH(int, undone);
    QFETCH(QStringList, enabled);
    DocumentWindow *window = open(note);
    if (undone >= 0)
        window->text().replaceAll(u"b\n"_s, EditOrigin::SourceEditor);
    for (int i = 0; i < undone; ++i)
        window->text().undo();
    window->model().setMode(mode);
    window->sourceEditor()->setFocus();
    if (selected)
        window->sourceEditor()->selectAll();
    if (clipboard.isEmpty())
        QApplication::clipboard()->clear();
    else
        QApplication::clipboard()->setText(clipboard);
    const QStringList labels{u"Undo"_s, u"Redo"_s, u"Cut"_s, u"Copy"_s, u"Paste"_s,
                             u"Paste as Plain Text"_s, u"Select All"_s};
    QMenu *edit = topMenu(window, u"Edit"_s);
    edit->popup(window->mapToGlobal(QPoint(10, 10)));
    QStringList shown;
    for (const QString &label : labels) {
        if (menuItem(window, u"Edit"_s, label)->isEnabled())
            shown << label;
    }
    edit->close();
    QCOMPARE(shown, enabled);
    // Closed, every item is enabled again, so that its shortcut is never stale.
    for (const QString &label : labels)
        QVERIFY(menuItem(window, u"Edit"_s, label)->isEnabled());
}

void TestApp::oneUndoKeyPressTakesBackOneStep_data()
{
    QTest::addColumn<bool>("fromOutline");
    // The source takes the key itself; from the outline the Edit menu's shortcut has it.
    QTest::newRow("in-the-source") << false;
    QTest::newRow("from-the-outline") << true;
}

void TestApp::oneUndoKeyPressTakesBackOneStep()
{
    QFETCH(bool, fromOutline);
    DocumentWindow *window = open("# One\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setMode(Mode::Split);
    window->model().setShowOutline(true);
    window->text().replaceAll(u"# Two\n"_s, EditOrigin::SourceEditor);
    window->text().replaceAll(u"# Three\n"_s, EditOrigin::SourceEditor);
    if (fromOutline)
        window->outlineSidebar()->findChild<QAbstractItemView *>()->setFocus();
    else
        window->sourceEditor()->setFocus();
    press(window, Qt::CTRL | Qt::Key_Z);
    QCOMPARE(window->text().text(), u"# Two\n"_s);
    press(window, Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
    QCOMPARE(window->text().text(), u"# Three\n"_s);
}

void TestApp::shortcutsWindowListsTheActionsAndFilters()
{
    DocumentWindow *window = open("a\n");
    // Read from the actions as they are: a changed shortcut shows as it is.
    menuItem(window, u"Format"_s, u"Highlight"_s)->setShortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_F12);
    menuItem(window, u"Help"_s, u"Keyboard Shortcuts"_s)->trigger();
    auto *list = window->findChild<app::ShortcutsWindow *>();
    QVERIFY(list && list->isVisible());
    const QString highlight = u"Highlight\t"_s
        + QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12).toString(QKeySequence::NativeText);
    const QStringList every = list->shownRows();
    QVERIFY(every.contains(highlight));
    QVERIFY(every.contains(u"Export \u203A PDF\u2026\tCtrl+Shift+E"_s));
    QTest::keyClicks(list->searchField(), u"f12"_s);
    QCOMPARE(list->shownRows(), QStringList{highlight});
    list->searchField()->clear();
    QTest::keyClicks(list->searchField(), u"PASTE"_s);
    const QStringList pastes = list->shownRows();
    QCOMPARE(pastes.size(), 2);
    QVERIFY(pastes[0].startsWith(u"Paste\tCtrl+V"));
    QCOMPARE(pastes[1], u"Paste as Plain Text\tCtrl+Shift+V"_s);
}

void TestApp::aboutNamesTheVersion()
{
    DocumentWindow *window = open("a\n");
    menuItem(window, u"Help"_s, u"About Quorvel"_s)->trigger();
    auto *about = window->findChild<app::AboutDialog *>();
    QVERIFY(about && about->isVisible());
    const QString text = about->text();
    QVERIFY2(text.contains(u"Version " QUORVEL_VERSION), qPrintable(text));
    QVERIFY2(text.contains(u"Qt "_s + QString::fromLatin1(qVersion())), qPrintable(text));
    QVERIFY2(text.contains(u"markdown-it "), qPrintable(text));
}

void TestApp::recentDocumentsAreNewestFirstAndStillThere()
{
    const QString a = m_scratch->write(u"a.md"_s, "a");
    const QString b = m_scratch->write(u"b.md"_s, "b");
    auto &controller = DocumentController::shared();
    for (const QString &path : {a, b, a})
        controller.openDocument(path);
    controller.newDocument();
    QCOMPARE(controller.recentDocuments(), (QStringList{a, b}));
    QVERIFY(QFile::remove(b));
    QCOMPARE(controller.recentDocuments(), QStringList{a});
}

void TestApp::openingAnOpenFileRaisesItsWindow()
{
    DocumentWindow *window = open("a\n");
    QCOMPARE(DocumentController::shared().openDocument(window->filePath()), window);
    QCOMPARE(DocumentController::shared().openDocument(m_scratch->dir.path() + "/./note.md"),
             window);
    QCOMPARE(DocumentController::shared().windows().size(), 1);
}

void TestApp::pastingAnImageIntoAnUntitledDraftSaysWhy()
{
    DocumentWindow *window = DocumentController::shared().newDocument();
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QStringList shown;
    QTimer::singleShot(0, qApp, [&shown] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown << box->text() << box->informativeText();
            box->accept();
        }
    });
    QCOMPARE(window->model().saveImage(image), std::nullopt);
    QCOMPARE(shown, (QStringList{QStringLiteral("Save the document first"),
                                 QStringLiteral("Pasted images are stored in a Captures/ folder "
                                                "next to the markdown file.")}));
}

void TestApp::spellingFollowsThePreferenceInEveryWindow()
{
    DocumentWindow *first = open("A teh cat.\n");
    DocumentWindow *second = DocumentController::shared().newDocument(false);
    QVERIFY(first->sourceEditor()->spellChecker() && second->sourceEditor()->spellChecker());
    m_scratch->appearance.setCheckSpelling(false);
    QVERIFY(!first->sourceEditor()->spellChecker() && !second->sourceEditor()->spellChecker());
    QVERIFY(first->sourceEditor()->spellingMarks().isEmpty());
    QCOMPARE(m_scratch->store.boolean(QStringLiteral("checkSpelling")), false);
    m_scratch->appearance.setCheckSpelling(true);
    QVERIFY(first->sourceEditor()->spellChecker());
}

void TestApp::imagesPastedIntoTheSourceAreStoredBesideTheNote()
{
    DocumentWindow *window = open("Intro\n");
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QString copied = m_scratch->path(QStringLiteral("copied.png"));
    QVERIFY(image.save(copied));
    QPlainTextEdit *editor = window->sourceEditor();
    editor->moveCursor(QTextCursor::End);
    // An image, then an image file copied in the file manager, both within one second: the
    // second gets a name of its own. Then text that comes with a picture of itself: the text.
    for (int round = 0; round < 3; ++round) {
        auto *data = new QMimeData;
        if (round != 1)
            data->setImageData(image);
        if (round == 1)
            data->setUrls({QUrl::fromLocalFile(copied)});
        if (round == 2)
            data->setText(QStringLiteral(" and words"));
        QApplication::clipboard()->setMimeData(data);
        editor->paste();
    }
    const QString stamp = m_scratch->clock.now().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString first = QStringLiteral("Captures/capture-%1.png").arg(stamp);
    const QString second = QStringLiteral("Captures/capture-%1-2.png").arg(stamp);
    QCOMPARE(window->model().text().text(),
             QStringLiteral("Intro\n![%1](%2)![%3](%4) and words")
                 .arg(first.mid(9), first, second.mid(9), second));
    QVERIFY(!QFileInfo::exists(m_scratch->path(QStringLiteral("Captures/capture-%1-3.png").arg(stamp))));
    QCOMPARE(QImage(m_scratch->path(first)).pixelColor(0, 0), QColor(Qt::red));
    QVERIFY(QFileInfo::exists(m_scratch->path(second)));
}

void TestApp::press(DocumentWindow *window, QKeyCombination key)
{
    // Where the focus is, as a key press goes, so that the window's shortcuts see it.
    QWidget *target = QApplication::focusWidget() ? QApplication::focusWidget() : window;
    QTest::keyClick(target, key.key(), key.keyboardModifiers());
}

void TestApp::presentationHidesTheChromeAndGivesItBack_data()
{
    QTest::addColumn<bool>("outline");
    QTest::addColumn<Qt::Key>("view"); // the view's key, pressed while presenting
    QTest::addColumn<Qt::Key>("leave");

    QTest::newRow("outline shown, Escape") << true << Qt::Key_1 << Qt::Key_Escape;
    QTest::newRow("outline hidden, Escape") << false << Qt::Key_1 << Qt::Key_Escape;
    QTest::newRow("Escape in the source") << true << Qt::Key_4 << Qt::Key_Escape;
    QTest::newRow("Escape in split view") << false << Qt::Key_3 << Qt::Key_Escape;
    QTest::newRow("Escape in the editing view") << true << Qt::Key_2 << Qt::Key_Escape;
    QTest::newRow("F11, the menu bar hidden") << true << Qt::Key_1 << Qt::Key_F11;
}

void TestApp::presentationHidesTheChromeAndGivesItBack()
{
    QFETCH(bool, outline);
    QFETCH(Qt::Key, view);
    QFETCH(Qt::Key, leave);
    const QString outlineKey = u"lastShowOutline"_s;
    m_scratch->store.setValue(outlineKey, outline);
    DocumentWindow *window = open("# Title\n\nText.\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCOMPARE(window->outlineSidebar()->isVisible(), outline);

    press(window, Qt::CTRL | Qt::ALT | Qt::Key_P);
    QVERIFY(window->model().presentation());
    QVERIFY(!window->menuBar()->isVisible());
    QVERIFY(!window->statusBar()->isVisible());
    QVERIFY(!window->outlineSidebar()->isVisible());
    QCOMPARE(m_scratch->store.boolean(outlineKey), std::optional(outline));

    // The menus' shortcuts still work with the menu bar hidden.
    press(window, Qt::CTRL | view);
    QCOMPARE(int(window->model().mode()), int(view) - int(Qt::Key_1));
    if (view == Qt::Key_4) {
        // An open find bar takes the first Escape, as everywhere.
        press(window, Qt::CTRL | Qt::Key_F);
        QVERIFY(window->sourceFindBar()->isVisible());
        press(window, Qt::Key_Escape);
        QVERIFY(!window->sourceFindBar()->isVisible());
        QVERIFY(window->model().presentation());
        QCOMPARE(QApplication::focusWidget(), window->sourceEditor());
    }
    press(window, leave);
    QVERIFY(!window->model().presentation());
    QVERIFY(window->menuBar()->isVisible());
    QVERIFY(window->statusBar()->isVisible());
    QCOMPARE(window->outlineSidebar()->isVisible(), outline);
    QCOMPARE(window->model().showOutline(), outline);
    QCOMPARE(m_scratch->store.boolean(outlineKey), std::optional(outline));
}

void TestApp::statusBarCountsTheSourceSelection()
{
    // With "\r\n" line endings the editor's positions are not the text's offsets.
    DocumentWindow *window = open("# Title\r\n\r\none two\r\n**three** four\r\n", Mode::Source);
    app::StatusBar *bar = window->statusView();
    const auto shown = [bar] {
        return waitUntil([bar] { return bar->countsCurrent(); }, 5000) ? bar->itemTexts().mid(1, 2)
                                                                       : QStringList();
    };
    QCOMPARE(shown(), (QStringList{u"5 words"_s, u"22 characters"_s}));

    // "two", a line break and "**three**".
    QTextCursor cursor = window->sourceEditor()->textCursor();
    cursor.setPosition(13);
    cursor.setPosition(26, QTextCursor::KeepAnchor);
    QCOMPARE(cursor.selectedText(), u"two\u2029**three**"_s);
    window->sourceEditor()->setTextCursor(cursor);
    QCOMPARE(shown(), (QStringList{u"2 of 5 words"_s, u"8 of 22 characters"_s}));

    cursor.clearSelection();
    window->sourceEditor()->setTextCursor(cursor);
    QCOMPARE(shown(), (QStringList{u"5 words"_s, u"22 characters"_s}));
}

void TestApp::findBarShowsThePagesAnswer_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("red");
    // The index as the page counts it, shown unchanged.
    QTest::newRow("a match") << u"beds"_s << 7 << 3 << u"3/7"_s << false;
    QTest::newRow("no match") << u"zebra"_s << 0 << 0 << u"None"_s << true;
    QTest::newRow("empty query") << QString() << 0 << 0 << QString() << false;
}

void TestApp::findBarShowsThePagesAnswer()
{
    QFETCH(QString, query);
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(QString, shown);
    QFETCH(bool, red);
    FakePreviewFactory fake;
    fake.calls.findCount = count;
    fake.calls.findIndex = index;
    DocumentWindow *window = open("# Note\n");
    window->model().setFindQuery(u"x"_s);
    window->model().find();
    app::FindBar *bar = window->findBar();
    bar->field()->selectAll();
    QTest::keyClick(bar->field(), Qt::Key_Backspace);
    QTest::keyClicks(bar->field(), query);
    QCOMPARE(fake.calls.finds.last(), u"find:"_s + query);
    QCOMPARE(bar->resultText(), shown);
    QLabel *label = bar->resultLabel();
    QCOMPARE(label->palette().color(QPalette::WindowText) == QColor(0xD7, 0x3A, 0x31), red);
}

void TestApp::escapeClosesTheFindBarKeepingTheQuery()
{
    FakePreviewFactory fake;
    fake.calls.findCount = 2;
    fake.calls.findIndex = 1;
    DocumentWindow *window = open("# Note\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    press(window, Qt::CTRL | Qt::Key_F);
    // Opening with an empty field searches nothing; each typed key searches.
    QVERIFY(window->findBar()->isVisible());
    QCOMPARE(QApplication::focusWidget(), window->findBar()->field());
    QCOMPARE(fake.calls.finds, QStringList());
    QTest::keyClicks(window->findBar()->field(), QStringLiteral("no"));
    QCOMPARE(fake.calls.finds, (QStringList{u"find:n"_s, u"find:no"_s}));
    QTest::keyClicks(window->findBar()->field(), QStringLiteral("te"));
    QCOMPARE(window->model().findCount(), 2);
    QCOMPARE(window->findBar()->resultText(), u"1/2"_s);

    QTest::keyClick(window->findBar()->field(), Qt::Key_Escape);
    QVERIFY(!window->findBar()->isVisible());
    QVERIFY(!window->model().showFind());
    QCOMPARE(window->model().findQuery(), QStringLiteral("note"));
    QCOMPARE(window->model().findCount(), 0);
    QCOMPARE(window->model().findIndex(), 0);
    QCOMPARE(fake.calls.finds.mid(fake.calls.finds.size() - 2),
             (QStringList{u"clear"_s, u"focus"_s}));

    // Open again: the kept query is searched at once.
    fake.calls.finds.clear();
    press(window, Qt::CTRL | Qt::Key_F);
    QCOMPARE(fake.calls.finds, QStringList{u"find:note"_s});
    QCOMPARE(window->findBar()->field()->selectedText(), QStringLiteral("note"));
}

void TestApp::findNextWithTheBarHiddenOnlyOpensIt()
{
    FakePreviewFactory fake;
    DocumentWindow *window = open("# Note\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    for (QKeyCombination key : {QKeyCombination(Qt::Key_F3), Qt::CTRL | Qt::Key_G,
                                Qt::SHIFT | Qt::Key_F3, Qt::CTRL | Qt::SHIFT | Qt::Key_G}) {
        window->model().closeFind();
        window->sourceEditor()->setFocus();
        fake.calls.finds.clear();
        press(window, key);
        QVERIFY(window->findBar()->isVisible());
        QCOMPARE(fake.calls.finds, QStringList());
        const int step = key.keyboardModifiers() & Qt::ShiftModifier ? -1 : 1;
        press(window, key);
        QCOMPARE(fake.calls.finds, QStringList{u"step:%1"_s.arg(step)});
    }
    // The page's bar never shows over the source.
    window->model().setMode(Mode::Source);
    QVERIFY(!window->model().showFind());
    QVERIFY(!window->findBar()->isVisible());
}

void TestApp::sourceModeHasAFindOfItsOwn()
{
    DocumentWindow *window = open("Apple pie.\nNo apples here?\nAn APPLE a day.\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setMode(Mode::Source);
    QPlainTextEdit *editor = window->sourceEditor();
    app::SourceFindBar *bar = window->sourceFindBar();
    // The editor follows a font size set while it is open.
    m_scratch->appearance.setEditorFontSize(17);
    QCOMPARE(editor->font().pointSizeF(), 17.0);

    press(window, Qt::CTRL | Qt::Key_F);
    QVERIFY(bar->isVisible());
    QVERIFY(!window->model().showFind());
    QVERIFY(!window->findBar()->isVisible());
    QCOMPARE(QApplication::focusWidget(), bar->field());
    QTest::keyClicks(bar->field(), QStringLiteral("apple"));
    QCOMPARE(bar->resultText(), QStringLiteral("1/3"));
    QCOMPARE(bar->highlighted(), 3);
    QCOMPARE(editor->extraSelections().size(), 3);

    const auto selection = [editor] {
        const QTextCursor c = editor->textCursor();
        return std::pair(c.selectionStart(), c.selectedText());
    };
    QCOMPARE(selection(), std::pair(0, u"Apple"_s));
    press(window, Qt::Key_F3);
    QCOMPARE(selection(), std::pair(14, u"apple"_s));
    QCOMPARE(bar->resultText(), QStringLiteral("2/3"));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    QCOMPARE(selection(), std::pair(30, u"APPLE"_s));
    press(window, Qt::CTRL | Qt::Key_G);
    QCOMPARE(selection(), std::pair(0, u"Apple"_s));
    press(window, Qt::SHIFT | Qt::Key_F3);
    QCOMPARE(selection(), std::pair(30, u"APPLE"_s));
    QCOMPARE(bar->resultText(), QStringLiteral("3/3"));

    // Typing in the text searches again.
    editor->setFocus();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral("apple"));
    QVERIFY(waitUntil([bar] { return bar->count() == 4; }, 5000));
    QCOMPARE(editor->extraSelections().size(), 4);

    QTest::keyClicks(bar->field(), QStringLiteral("zzz"));
    QCOMPARE(bar->resultText(), QStringLiteral("None"));
    QCOMPARE(editor->extraSelections().size(), 0);
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(editor->extraSelections().size(), 0);
    QCOMPARE(QApplication::focusWidget(), editor);
    QVERIFY(!window->model().showFind());
}

void TestApp::sourceFindCountsEveryMatchButMarksOnlyTheScreen()
{
    QByteArray text;
    for (int line = 0; line < 20000; ++line)
        text += "the quick brown fox jumps over the lazy dog\n";
    DocumentWindow *window = open(text, Mode::Source);
    app::SourceFindBar *bar = window->sourceFindBar();
    window->model().find();
    bar->setQuery(QStringLiteral("THE"));
    QCOMPARE(bar->count(), 40000);
    QVERIFY2(bar->highlighted() > 0 && bar->highlighted() < 2000,
             qPrintable(QString::number(bar->highlighted())));

    // Far down, the marks are those of the new screen.
    QPlainTextEdit *editor = window->sourceEditor();
    editor->verticalScrollBar()->setValue(editor->verticalScrollBar()->maximum() / 2);
    const int middle = editor->cursorForPosition(editor->viewport()->rect().center()).position();
    QVERIFY(waitUntil([&] {
        const auto marks = editor->extraSelections();
        return !marks.isEmpty() && marks.first().cursor.position() < middle
            && middle < marks.last().cursor.position();
    }, 5000));
}

void TestApp::sourceFindSelectsMatchesInALongLine_data()
{
    QTest::addColumn<QByteArray>("lineBreak");
    QTest::newRow("lf") << QByteArray("\n");
    QTest::newRow("crlf") << QByteArray("\r\n");
}

// A line shown in pieces: each match is selected where it is.
void TestApp::sourceFindSelectsMatchesInALongLine()
{
    QFETCH(QByteArray, lineBreak);
    const QByteArray words = QByteArray("some words ").repeated(500);
    DocumentWindow *window = open("intro" + lineBreak + lineBreak + words + "needle " + words
                                      + "needle " + words + lineBreak + "needle" + lineBreak,
                                  Mode::Source);
    app::SourceFindBar *bar = window->sourceFindBar();
    window->model().find();
    bar->setQuery(QStringLiteral("needle"));
    QCOMPARE(bar->count(), 3);
    QPlainTextEdit *editor = window->sourceEditor();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(editor->textCursor().selectedText(), QStringLiteral("needle"));
        bar->perform(core::DocumentModel::TextFinderAction::Next);
    }
}

void TestApp::sourceReplaceChangesOnlyTheMatches_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("query");
    QTest::addColumn<core::FindOptions>("options");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<bool>("all"); // Replace All, else Return twice in the replace field
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QByteArray>("afterUndo"); // one Ctrl+Z later
    QTest::addColumn<QString>("message");
    const core::FindOptions plain, matchCase{.matchCase = true}, word{.wholeWord = true},
        pattern{.regularExpression = true};
    const QByteArray mail = "to: ann@x.org\r\nto: bob@y.net\r\nkeep: me@z\r\n";
    QTest::newRow("groups, at line ends of a CRLF file")
        << mail << u"(\\w+)@(\\w+)\\.\\w+$"_s << pattern << u"$2: $1"_s << true
        << QByteArray("to: x: ann\r\nto: y: bob\r\nkeep: me@z\r\n") << mail << u"2 replaced"_s;
    QTest::newRow("a dollar, and a group then a digit")
        << QByteArray("a b\n") << u"(a)"_s << pattern << u"$$$10"_s << true
        << QByteArray("$a0 b\n") << QByteArray("a b\n") << u"1 replaced"_s;
    QTest::newRow("match case") << QByteArray("Cat cat CAT\n") << u"cat"_s << matchCase
                                << u"dog"_s << true << QByteArray("Cat dog CAT\n")
                                << QByteArray("Cat cat CAT\n") << u"1 replaced"_s;
    QTest::newRow("whole word") << QByteArray("Cat concat cat.\n") << u"cat"_s << word << u"dog"_s
                                << true << QByteArray("dog concat dog.\n")
                                << QByteArray("Cat concat cat.\n") << u"2 replaced"_s;
    const QByteArray mixed = "keep\r\nfoo\r\n\r\nlf line\nfoo bar\n";
    QTest::newRow("mixed line endings untouched")
        << mixed << u"FOO"_s << plain << u"qux"_s << true
        << QByteArray("keep\r\nqux\r\n\r\nlf line\nqux bar\n") << mixed << u"2 replaced"_s;
    QTest::newRow("a bad pattern replaces nothing")
        << QByteArray("a(b\n") << u"a(b"_s << pattern << u"x"_s << true << QByteArray("a(b\n")
        << QByteArray("a(b\n") << u"Bad pattern"_s;
    // The replacement holds the query: the next Return goes on after it, not into it.
    QTest::newRow("one at a time") << QByteArray("a1 a2 a3\r\n") << u"a"_s << plain << u"aa"_s
                                   << false << QByteArray("aa1 aa2 a3\r\n")
                                   << QByteArray("aa1 a2 a3\r\n") << QString();
}

void TestApp::sourceReplaceChangesOnlyTheMatches()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, query);
    QFETCH(core::FindOptions, options);
    QFETCH(QString, replacement);
    QFETCH(bool, all);
    QFETCH(QByteArray, saved);
    QFETCH(QByteArray, afterUndo);
    QFETCH(QString, message);
    DocumentWindow *window = open(file);
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setMode(Mode::Source);
    app::SourceFindBar *bar = window->sourceFindBar();
    press(window, Qt::CTRL | Qt::Key_H);
    QVERIFY(bar->isVisible() && bar->replaceShown());
    bar->setOptions(options);
    QTest::keyClicks(bar->field(), query);
    QTest::keyClicks(bar->replaceField(), replacement);
    if (all) {
        bar->replaceField()->setFocus();
        press(window, Qt::ALT | Qt::Key_A);
    } else {
        QTest::keyClick(bar->replaceField(), Qt::Key_Return);
        QTest::keyClick(bar->replaceField(), Qt::Key_Return);
    }
    // A button's key clicks it a moment later, as if pressed.
    QVERIFY2(waitUntil([&] { return bar->message().startsWith(message); }, 2000),
             qPrintable(bar->message()));
    window->model().saveNow();
    QCOMPARE(m_scratch->read(window->filePath()), saved);
    // The editor shows what the text holds.
    QCOMPARE(window->sourceEditor()->toPlainText(), QString::fromUtf8(saved).remove(u'\r'));

    QTest::keyClick(window->sourceEditor(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(window->text().text(), QString::fromUtf8(afterUndo));
    // What a Replace All did is old news once the text changed again; a bad pattern is not.
    QCOMPARE(bar->message().isEmpty(), !message.startsWith(u"Bad pattern"));
}

void TestApp::pageReplaceStartsAtThePagesMatch_data()
{
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("pageIndex");
    QTest::addColumn<QString>("replaced"); // after two presses of Replace
    QTest::addColumn<int>("steps"); // the page moved on past a replacement that still matches
    QTest::newRow("the page counts the same") << 3 << 2 << u"a cat, two cats, three cats\n"_s << 1;
    // A match the page does not show (say in a link's address): from the top of the source.
    QTest::newRow("the page counts fewer") << 2 << 2 << u"a cats, two cats, three cat\n"_s << 0;
}

void TestApp::pageReplaceStartsAtThePagesMatch()
{
    QFETCH(int, pageCount);
    QFETCH(int, pageIndex);
    QFETCH(QString, replaced);
    QFETCH(int, steps);
    FakePreviewFactory fake;
    fake.calls.findCount = pageCount;
    fake.calls.findIndex = pageIndex;
    DocumentWindow *window = open("a cat, two cat, three cat\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setMode(Mode::Visual);
    press(window, Qt::CTRL | Qt::Key_H);
    app::FindBar *bar = window->findBar();
    QVERIFY(bar->isVisible() && bar->replaceShown());
    QTest::keyClicks(bar->field(), u"cat"_s);
    QTest::keyClicks(bar->replaceField(), u"cats"_s);
    QTest::mouseClick(bar->replaceButton(), Qt::LeftButton);
    QTest::mouseClick(bar->replaceButton(), Qt::LeftButton);
    QCOMPARE(window->text().text(), replaced);
    QCOMPARE(fake.calls.finds.count(u"step:1"_s), steps);
    // Each Replace is a step of its own.
    window->text().undo();
    QVERIFY(window->text().text() != replaced && window->text().text().contains(u"cats"));
}

void TestApp::splitViewFindsInTheFocusedPane()
{
    FakePreviewFactory fake;
    DocumentWindow *window = open("cat\n");
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setMode(Mode::Split);
    window->sourceEditor()->setFocus();
    press(window, Qt::CTRL | Qt::Key_H);
    app::SourceFindBar *source = window->sourceFindBar();
    QVERIFY(source->isVisible() && source->replaceShown());
    // Sized for both lines, though the second was shown before the row.
    QCOMPARE(source->size(), source->sizeHint());
    QVERIFY(!window->findBar()->isVisible());
    // Plain find hides the replace line again.
    press(window, Qt::CTRL | Qt::Key_F);
    QVERIFY(source->isVisible() && !source->replaceShown());

    // From outside the source, the page's bar; the source's goes.
    QTest::keyClick(source->field(), Qt::Key_Escape);
    window->sourceEditor()->clearFocus();
    press(window, Qt::CTRL | Qt::Key_H);
    QVERIFY(window->findBar()->isVisible() && window->findBar()->replaceShown());
    QVERIFY(!source->isVisible());
}

void TestApp::outsideAppendsWhileTypingLoseNothing_data()
{
    QTest::addColumn<bool>("reload");
    QTest::newRow("then-reload") << true;
    QTest::newRow("then-ignore") << false;
}

void TestApp::outsideAppendsWhileTypingLoseNothing()
{
    QFETCH(bool, reload);
    useRealClock();
    DocumentWindow *window = open("# Log\n", Mode::Source);
    QPlainTextEdit *editor = window->sourceEditor();
    editor->moveCursor(QTextCursor::End);
    const QString path = window->filePath();

    // Another program appends a line every 50 ms for 10 s.
    QProcess writer;
    writer.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("for i in $(seq 1 200); do echo \"outside $i\" >> \"$0\"; "
                                 "sleep 0.05; done"),
                  path});
    QVERIFY(writer.waitForStarted());
    QByteArray outside = "# Log\n";
    for (int i = 1; i <= 200; ++i)
        outside += "outside " + QByteArray::number(i) + '\n';

    // The user types in bursts, pausing long enough for autosaves to come due.
    QString typed;
    int tick = 0;
    QTimer typist;
    typist.setInterval(40);
    connect(&typist, &QTimer::timeout, editor, [&] {
        if (++tick % 60 >= 35)
            return;
        const QChar c = QChar(char16_t(u'a' + typed.size() % 26));
        QTest::keyClick(editor, c.toLatin1());
        typed += c;
    });
    typist.start();
    QSignalSpy finished(&writer, &QProcess::finished);
    QVERIFY(finished.wait(30000));
    typist.stop();

    QCOMPARE(window->model().text().text(), QStringLiteral("# Log\n") + typed);
    QCOMPARE(ScratchEnvironment::read(path), outside);
    QTRY_COMPARE_WITH_TIMEOUT(window->document().externalContent(),
                              std::optional(QString::fromUtf8(outside)), 5000);
    app::ReloadBanner *banner = window->reloadBanner();
    QTRY_VERIFY(banner->isVisible());
    QVERIFY(banner->title().startsWith(QStringLiteral("This file changed on disk at ")));
    QVERIFY(banner->detail().startsWith(QStringLiteral("Changed by another program. Reload")));

    if (reload) {
        banner->reloadButton()->click();
        QCOMPARE(window->model().text().text(), QString::fromUtf8(outside));
        QCOMPARE(editor->toPlainText(), QString::fromUtf8(outside));
        QVERIFY(!window->model().dirty());
        QTRY_VERIFY(!banner->isVisible());
        QCOMPARE(ScratchEnvironment::read(path), outside);
    } else {
        banner->ignoreButton()->click();
        const QByteArray mine = "# Log\n" + typed.toUtf8();
        QTRY_COMPARE_WITH_TIMEOUT(ScratchEnvironment::read(path), mine, 5000);
        QVERIFY(!window->document().externalContent());
    }
}

void TestApp::ownSaveBurstNeverShowsTheBanner()
{
    useRealClock();
    DocumentWindow *window = open("start\n", Mode::Source);
    QSignalSpy banner(&window->document(), &core::DocumentFile::externalContentChanged);
    for (int i = 0; i < 200; ++i) {
        QTest::keyClick(window->sourceEditor(), 'x');
        window->model().saveNow();
        QCoreApplication::processEvents();
    }
    const QByteArray saved = QByteArray(200, 'x') + QByteArray("start\n");
    QCOMPARE(ScratchEnvironment::read(window->filePath()), saved);
    QVERIFY(!window->model().dirty());
    // Another program's write is reported after every report of the saves before it: the one
    // banner it raises must be the first of all.
    QFile file(window->filePath());
    QVERIFY(file.open(QIODevice::Append));
    file.write("outside\n");
    file.close();
    QVERIFY(banner.wait(5000));
    QCOMPARE(banner.count(), 1);
    QCOMPARE(window->document().externalContent(), QString::fromUtf8(saved + "outside\n"));
}

void TestApp::deletedFileKeepsTheWindowAndIsNoticedAgain()
{
    useRealClock();
    DocumentWindow *window = open("keep me\n", Mode::Source);
    const QString path = window->filePath();
    const core::FileWatcher *watcher = window->document().watcher();
    QVERIFY(QFile::remove(path));
    QTRY_VERIFY(watcher->hasPendingNotification());
    QTRY_VERIFY(!watcher->hasPendingNotification());
    QCOMPARE(window->sourceEditor()->toPlainText(), QStringLiteral("keep me\n"));
    QVERIFY(!window->document().externalContent());

    QSignalSpy banner(&window->document(), &core::DocumentFile::externalContentChanged);
    m_scratch->write(QStringLiteral("note.md"), "written again\n");
    QVERIFY(banner.wait(5000));
    QCOMPARE(window->document().externalContent(), QStringLiteral("written again\n"));
    QCOMPARE(window->sourceEditor()->toPlainText(), QStringLiteral("keep me\n"));
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
