// The preview with the real page in the real web engine, offscreen. The debounce and the
// autosave still run on the manual clock; the only waits are for the web engine's answers.
#include "menusupport.h"
#include "testsupport.h"

#include "app/application.h"
#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "app/findbar.h"
#include "app/spelling.h"
#include "editor/editorcontroller.h"
#include "editor/markdowntextview.h"
#include "themes/appearance.h"
#include "core/documenttext.h"
#include "preview/pageprotocol.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QClipboard>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QWebEngineContextMenuRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSplitter>
#include <QTextCursor>
#include <QTest>
#include <QImage>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>

#include <csignal>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::DocumentController;
using app::DocumentWindow;
using preview::PreviewController;
using Mode = core::DocumentModel::Mode;

namespace {

// The web engine starts its processes on first use; that alone can take seconds on a slow CI.
constexpr int kEngineTimeout = 30000;

const QByteArray kNote = "# Garden\n\nFirst paragraph.\n\n## Beds\n\nSecond paragraph.\n";

QStringList typesOf(const QSignalSpy &spy)
{
    QStringList types;
    for (const auto &arguments : spy)
        types.append(arguments.at(0).toString());
    return types;
}

// Answers the page's prompt once it shows: types the text and takes it, or cancels with Escape
// when the text is empty.
void answerPrompt(const QString &text)
{
    QWidget *dialog = QApplication::activeModalWidget();
    if (!dialog) {
        QTimer::singleShot(50, [text] { answerPrompt(text); });
        return;
    }
    auto *field = dialog->findChild<QLineEdit *>();
    if (text.isEmpty() || !field) {
        QTest::keyClick(dialog, Qt::Key_Escape);
        return;
    }
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Return);
}

// A note longer than `size` bytes, of plain paragraphs under the heading.
QByteArray longNote(const QByteArray &heading, qsizetype size)
{
    QByteArray note = heading + "\n\n";
    while (note.size() <= size)
        note += "A line of a long note.\n\n";
    return note;
}

// The process that started `pid`, from /proc/<pid>/stat: its fourth field, after the name in
// brackets (which may hold spaces).
qint64 parentProcess(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : -1;
}

} // namespace

class TestPreviewPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void openingANoteRendersItWithItsOutline();
    void codeIsColouredOnAHelperThreadTheEngineAllows();
    void modesShareOneWebView();
    void typingInSplitModeRendersOncePerBurst();
    void splitPreviewFollowsTheEditorsScroll();
    void typingOnThePageReachesTheFile_data();
    void typingOnThePageReachesTheFile();
    void reloadWhileEditingVisuallyKeepsTheFilesText();
    void sourceEditsSurviveTheWayBackFromVisual();
    void structureTypedInThePageReachesTheFile_data();
    void structureTypedInThePageReachesTheFile();
    void contextMenuIsRebuiltForTheMode_data();
    void contextMenuIsRebuiltForTheMode();
    void hostileMarkupNeverLeavesThePage_data();
    void hostileMarkupNeverLeavesThePage();
    void escapingNavigationLeavesThePageInPlace();
    void missingPageIsReportedOnce();
    void withoutAGpuNoOpenGlIsLoaded();
    void pagesShareAProcessAndComeBackWhenItDies_data();
    void pagesShareAProcessAndComeBackWhenItDies();
    void typingBeforeTheEditingViewTakesItIsKept();
    void aNewWindowHasTheFocusWhereTypingGoes_data();
    void aNewWindowHasTheFocusWhereTypingGoes();
    void typingJustBeforeLeavingTheEditingViewIsKept();
    void typingAfterASwitchGoesOnAtTheCaret_data();
    void typingAfterASwitchGoesOnAtTheCaret();
    void longNoteFillsTheSourceEditorWhenItIsShown_data();
    void longNoteFillsTheSourceEditorWhenItIsShown();
    void checkboxesAndWikilinksWorkFromTheReadingView();
    void findBarShowsWhatThePageFound_data();
    void findBarShowsWhatThePageFound();
    void spellingGuessesAndLearntWordsReachBothViews();
    void closingFindLeavesNoLinkFocused();
    void replaceInTheRenderedViewsEditsTheSource_data();
    void replaceInTheRenderedViewsEditsTheSource();
    void editItemsFollowThePage_data();
    void editItemsFollowThePage();
    void plainPasteIsTypedTextAndOneUndoStep();
    void undoKeyInTheSplitViewsPageTakesBackOneStep();
    void formattingFromTheSplitViewsPageLeavesTheSourceAlone();

private:
    DocumentWindow *open(Mode mode, const QByteArray &bytes = kNote);
    // Opens the note and waits for its first render: null if it never came. What the page
    // said from its start on is in messages().
    DocumentWindow *openRendered(Mode mode, const QByteArray &bytes = kNote);
    QSignalSpy &messages() { return *m_messages; }
    QList<QUrl> m_external; // what the page's links handed to the desktop
    PreviewController &controller(DocumentWindow *window);
    // Runs a probe script in the page and returns its result.
    QVariant evaluate(DocumentWindow *window, const QString &script);
    QString pageText(DocumentWindow *window);
    bool editable(DocumentWindow *window);
    // With the content focused and the caret at the end of the first element that matches, runs
    // `then` in the same script, so that nothing the page does can come in between.
    QVariant atCaret(DocumentWindow *window, const QString &selector, const QString &then);
    bool waitFor(QSignalSpy &spy, const QString &type, int count = 1);
    void typeInPage(DocumentWindow *window, const QString &text);
    void pressKeys(DocumentWindow *window, const QString &keys);
    // A real mouse click in the middle of the first element of the content that matches.
    void clickOn(DocumentWindow *window, const QString &selector);
    // Right-clicks the first occurrence of `word` on the page and returns the menu it opened.
    QMenu *contextMenuOn(DocumentWindow *window, const QString &word);
    // Right-clicks the page at `point` ([x, y]) and returns the menu it opened.
    QMenu *contextMenuAt(DocumentWindow *window, const QVariantList &point);

    std::unique_ptr<ScratchEnvironment> m_scratch;
    std::unique_ptr<QSignalSpy> m_messages;
};

void TestPreviewPage::initTestCase()
{
    // The user's word list of an earlier run would hide the misspellings this run looks for.
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                  + u"/Quorvel/words.txt"_s);
}

void TestPreviewPage::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    DocumentController::shared().setAlertsEnabled(false);
    DocumentController::shared().setModelEnvironment(m_scratch->env());
    // Notes open in windows as they do for a user; nothing leaves for the desktop.
    m_external.clear();
    core::DocumentModel::setWorkspace(
        {[](const QString &path) { DocumentController::shared().openDocument(path); },
         [this](const QUrl &url) { m_external.append(url); }});
}

void TestPreviewPage::cleanup()
{
    m_messages.reset();
    for (auto *window : DocumentController::shared().windows()) {
        window->document().updateChangeCount(core::DocumentFile::Change::Cleared);
        delete window;
    }
    m_scratch.reset();
}

DocumentWindow *TestPreviewPage::open(Mode mode, const QByteArray &bytes)
{
    m_scratch->store.setValue(QStringLiteral("lastMode"), core::DocumentModel::storedName(mode));
    const QString path = m_scratch->write(QStringLiteral("note.md"), bytes);
    return DocumentController::shared().openDocument(path);
}

DocumentWindow *TestPreviewPage::openRendered(Mode mode, const QByteArray &bytes)
{
    DocumentWindow *window = open(mode, bytes);
    if (!window)
        return nullptr;
    m_messages = std::make_unique<QSignalSpy>(&controller(window),
                                              &PreviewController::messageReceived);
    return waitFor(*m_messages, u"rendered"_s) ? window : nullptr;
}

PreviewController &TestPreviewPage::controller(DocumentWindow *window)
{
    auto *controller = PreviewController::of(window->model());
    Q_ASSERT(controller);
    return *controller;
}

QVariant TestPreviewPage::evaluate(DocumentWindow *window, const QString &script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    controller(window).webView()->page()->runJavaScript(
        script, [result](const QVariant &value) { *result = value; });
    if (!waitUntil([&] { return result->has_value(); }, kEngineTimeout))
        return QStringLiteral("<no answer>");
    return **result;
}

QString TestPreviewPage::pageText(DocumentWindow *window)
{
    return evaluate(window, QStringLiteral("document.getElementById('content').innerText"))
        .toString();
}

bool TestPreviewPage::editable(DocumentWindow *window)
{
    return evaluate(window, u"document.getElementById('content').isContentEditable"_s).toBool();
}

QVariant TestPreviewPage::atCaret(DocumentWindow *window, const QString &selector,
                                 const QString &then)
{
    return evaluate(window, QStringLiteral(
        "(() => { const el = document.querySelector(%1); document.getElementById('content').focus();"
        " const r = document.createRange(); r.selectNodeContents(el); r.collapse(false);"
        " getSelection().removeAllRanges(); getSelection().addRange(r);"
        " return %2; })()").arg(preview::pagecommand::json(selector), then));
}

bool TestPreviewPage::waitFor(QSignalSpy &spy, const QString &type, int count)
{
    return waitUntil([&] { return typesOf(spy).count(type) >= count; }, kEngineTimeout);
}

void TestPreviewPage::typeInPage(DocumentWindow *window, const QString &text)
{
    // Typed at the end of the first paragraph as the editing commands see it (the same input
    // events a key press makes).
    atCaret(window, u"#content p"_s,
            u"document.execCommand('insertText', false, %1)"_s.arg(preview::pagecommand::json(text)));
}

void TestPreviewPage::clickOn(DocumentWindow *window, const QString &selector)
{
    const QVariantList box = evaluate(window, QStringLiteral(
        "(() => { const b = document.querySelector('#content %1').getBoundingClientRect();"
        " return [b.left + b.width / 2, b.top + b.height / 2]; })()").arg(selector)).toList();
    QTest::mouseClick(controller(window).webView()->focusProxy(), Qt::LeftButton, {},
                      QPoint(box.value(0).toInt(), box.value(1).toInt()));
}

void TestPreviewPage::openingANoteRendersItWithItsOutline()
{
    DocumentWindow *window = openRendered(Mode::Read);
    QVERIFY(window);
    const QStringList types = typesOf(messages());
    QCOMPARE(types.first(), QStringLiteral("ready"));
    QVERIFY(types.indexOf(QStringLiteral("outline")) < types.indexOf(QStringLiteral("rendered")));

    const core::Outline outline = window->model().outline();
    QCOMPARE(outline.size(), 2);
    QCOMPARE(outline.at(0).text, QStringLiteral("Garden"));
    QCOMPARE(outline.at(1).level, 2);
    QVERIFY(pageText(window).contains(QStringLiteral("Second paragraph.")));
    QVERIFY(!editable(window));
}

// A long note's export colours its code on a helper thread. Were the engine to refuse it (the
// page's policy, a missing script), the page would colour the code itself, only slower: nothing
// else would show it.
void TestPreviewPage::codeIsColouredOnAHelperThreadTheEngineAllows()
{
    DocumentWindow *window = openRendered(Mode::Read);
    QVERIFY(window);
    evaluate(window, uR"(window.qvAnswer = null;
        const helper = new Worker('highlight.js');
        helper.onmessage = ({ data }) => {
          if (data === 'ready') helper.postMessage([[7, 'const x = 1;', 'js']]);
          else window.qvAnswer = JSON.stringify(data);
        };
        helper.onerror = () => { window.qvAnswer = 'refused'; };)"_s);
    QVariant answer;
    QVERIFY(waitUntil([&] { return !(answer = evaluate(window, u"window.qvAnswer"_s)).isNull(); },
                      kEngineTimeout));
    QCOMPARE(answer.toString(), uR"([[7,"<span class=\"hljs-keyword\">const</span> x = <span class=\"hljs-number\">1</span>;"]])"_s);
}

void TestPreviewPage::modesShareOneWebView()
{
    DocumentWindow *window = openRendered(Mode::Read);
    QVERIFY(window);
    QWidget *view = controller(window).webView();
    auto *split = qobject_cast<QSplitter *>(window->sourceEditor()->parentWidget());
    QVERIFY(split);
    for (Mode mode : {Mode::Split, Mode::Source, Mode::Visual, Mode::Read, Mode::Split}) {
        window->model().setMode(mode);
        QCOMPARE(view->isVisible(), mode != Mode::Source);
        QCOMPARE(window->sourceEditor()->isVisible(), mode == Mode::Split || mode == Mode::Source);
        QCOMPARE(split->indexOf(view), 1);
    }
    const QList<int> sizes = split->sizes();
    QVERIFY2(qAbs(sizes.at(0) - sizes.at(1)) <= 1, qPrintable(QDebug::toString(sizes)));
    QCOMPARE(typesOf(messages()).count(QStringLiteral("ready")), 1);
}

void TestPreviewPage::typingInSplitModeRendersOncePerBurst()
{
    DocumentWindow *window = openRendered(Mode::Split);
    QVERIFY(window);
    messages().clear();

    QPlainTextEdit *editor = window->sourceEditor();
    editor->setFocus();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral("Typed in a burst."));
    QCoreApplication::processEvents(); // the coalesced view update
    m_scratch->clock.advance(PreviewController::kRenderDelay - 1ms);
    QVERIFY(!pageText(window).contains(QStringLiteral("Typed")));
    m_scratch->clock.advance(1ms);
    QVERIFY(waitFor(messages(), QStringLiteral("rendered")));
    QVERIFY(pageText(window).contains(QStringLiteral("Typed in a burst.")));
    // The probe's answer came after anything the page had to say about that render.
    QCOMPARE(typesOf(messages()).count(QStringLiteral("rendered")), 1);

    // Later bursts travel as changes; a deletion and a character outside the first plane too.
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(editor, Qt::Key_Backspace);
    editor->insertPlainText(u"\U0001F600 ok"_s);
    QCoreApplication::processEvents();
    m_scratch->clock.advance(PreviewController::kRenderDelay);
    QVERIFY(waitFor(messages(), QStringLiteral("rendered")));
    QVERIFY(pageText(window).contains(u"Typed in a \U0001F600 ok"_s));
}

void TestPreviewPage::splitPreviewFollowsTheEditorsScroll()
{
    QByteArray longNote;
    for (int i = 1; i <= 200; ++i)
        longNote += "## Part " + QByteArray::number(i) + "\n\nSome text for part "
            + QByteArray::number(i) + ".\n\n";
    DocumentWindow *window = openRendered(Mode::Split, longNote);
    QVERIFY(window);
    const QString scrolled = QStringLiteral(
        "(document.scrollingElement.scrollTop + innerHeight) / document.scrollingElement.scrollHeight");
    QVERIFY(evaluate(window, scrolled).toDouble() < 0.5);

    QScrollBar *bar = window->sourceEditor()->verticalScrollBar();
    bar->setValue(bar->maximum());
    QVERIFY(waitUntil([&] { return evaluate(window, scrolled).toDouble() > 0.95; },
                            kEngineTimeout));

    // The reader scrolls the page: the source follows.
    evaluate(window, u"window.scrollTo(0, (document.documentElement.scrollHeight - innerHeight) / 2)"_s);
    QVERIFY(waitUntil([&] { return qAbs(bar->value() - bar->maximum() / 2) <= bar->maximum() / 10; },
                      kEngineTimeout));

    // Only in split mode does the page follow; entering split view brings it to the source.
    window->model().setMode(Mode::Source);
    bar->setValue(0);
    QVERIFY(evaluate(window, scrolled).toDouble() > 0.5);
    window->model().setMode(Mode::Split);
    QVERIFY(waitUntil([&] { return evaluate(window, scrolled).toDouble() < 0.5; }, kEngineTimeout));
}

void TestPreviewPage::typingOnThePageReachesTheFile_data()
{
    QTest::addColumn<bool>("closed"); // the window closed at once, before the page's edit delay
    QTest::newRow("after-the-autosave") << false;
    QTest::newRow("closed-right-after-typing") << true;
}

void TestPreviewPage::typingOnThePageReachesTheFile()
{
    QFETCH(bool, closed);
    DocumentWindow *window = openRendered(Mode::Visual);
    QVERIFY(window);
    QVERIFY(editable(window));
    const QString path = window->filePath();
    typeInPage(window, QStringLiteral(" Edited on the page."));
    const QString expected = QString::fromUtf8(kNote).replace(
        QStringLiteral("First paragraph."), QStringLiteral("First paragraph. Edited on the page."));
    if (closed) {
        QVERIFY(window->close());
    } else {
        QVERIFY(waitFor(messages(), QStringLiteral("edit")));
        QCOMPARE(window->model().text().text(), expected);
        QCOMPARE(window->sourceEditor()->toPlainText(), expected);
        m_scratch->clock.advance(1s);
    }
    QCOMPARE(ScratchEnvironment::read(path), expected.toUtf8());
}

void TestPreviewPage::reloadWhileEditingVisuallyKeepsTheFilesText()
{
    DocumentWindow *window = openRendered(Mode::Visual);
    QVERIFY(window);
    messages().clear();

    // Another program rewrites the file while the user is typing on the page.
    const QByteArray disk = "# Garden\n\nRewritten by another program.\n";
    m_scratch->write(QStringLiteral("note.md"), disk);
    typeInPage(window, QStringLiteral(" Lost edit."));
    core::DocumentModel &model = window->model();
    model.reloadFromDisk(); // prepares the preview, raises the external version, sets the text
    QCoreApplication::processEvents();
    m_scratch->clock.advance(PreviewController::kRenderDelay);
    QVERIFY(waitFor(messages(), QStringLiteral("rendered")));

    QCOMPARE(model.text().text(), QString::fromUtf8(disk));
    const QString shown = pageText(window);
    QVERIFY2(shown.contains(QStringLiteral("Rewritten by another program.")), qPrintable(shown));
    QVERIFY2(!shown.contains(QStringLiteral("Lost edit.")), qPrintable(shown));

    // The page goes on from the file's text: the next edit is accepted and builds on it.
    typeInPage(window, QStringLiteral(" Then more."));
    QVERIFY(waitUntil(
        [&] { return model.text().text().contains(QStringLiteral("Then more.")); }, kEngineTimeout));
    QCOMPARE(model.text().text(),
             QStringLiteral("# Garden\n\nRewritten by another program. Then more.\n"));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()),
             QByteArray("# Garden\n\nRewritten by another program. Then more.\n"));
}

void TestPreviewPage::sourceEditsSurviveTheWayBackFromVisual()
{
    // A byte-order mark too: the page's answers must bring it back.
    const QString note = u"\uFEFF"_s + QString::fromUtf8(kNote);
    DocumentWindow *window = openRendered(Mode::Visual, note.toUtf8());
    QVERIFY(window);
    core::DocumentModel &model = window->model();
    typeInPage(window, QStringLiteral(" On the page."));
    model.setMode(Mode::Source);
    QVERIFY(waitUntil([&] { return model.text().text().contains(QStringLiteral("On the page.")); },
                      kEngineTimeout));

    QPlainTextEdit *editor = window->sourceEditor();
    // The caret comes from the page, where the typing stopped.
    const int typedTo = int(model.text().text().indexOf(u"On the page."_s) + 12);
    QVERIFY(waitUntil([&] { return editor->textCursor().position() == typedTo; }, kEngineTimeout));
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral("In the source."));
    const QString expected = QString(note).replace(
        QStringLiteral("First paragraph."), QStringLiteral("First paragraph. On the page."))
        + QStringLiteral("In the source.");
    QCOMPARE(model.text().text(), expected);

    messages().clear();
    model.setMode(Mode::Read);
    QCoreApplication::processEvents(); // the coalesced view update
    QCOMPARE(model.text().text(), expected);
    m_scratch->clock.advance(PreviewController::kRenderDelay);
    QVERIFY(waitFor(messages(), QStringLiteral("rendered")));
    QVERIFY(pageText(window).contains(QStringLiteral("In the source.")));
    QVERIFY(!editable(window));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), expected.toUtf8());
}

// Real key presses, so the engine's own handling of Enter, Tab and the shortcuts is what the
// page has to work with. `keys` is typed text with "{Enter}", "{Ctrl+B}" presses between;
// "{Answer:text}" answers the next prompt ("{Answer:}" cancels it) and "{ClickBelow}" clicks
// under the last block.
void TestPreviewPage::structureTypedInThePageReachesTheFile_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QString>("caret"); // a selector; the caret goes to the end of its text
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("expected");
    const auto row = [](const char *name, const QByteArray &note, const QString &caret,
                        const QString &keys, const QByteArray &expected, Mode mode = Mode::Visual) {
        QTest::newRow(name) << mode << note << caret << keys << expected;
    };
    const QByteArray table = "# Plan\n\n| a | b |\n| --- | --- |\n| c | d |\n";
    row("heading", "Intro.\n\nBeds\n", "#content p:last-child", "{Home}## ", "Intro.\n\n## Beds\n");
    row("heading-undone", "Intro.\n\nBeds\n", "#content p:last-child", "{Home}## {Ctrl+Z}x",
        "Intro.\n\nxBeds\n");
    row("list-then-enter", "Intro.\n\nBeds\n", "#content p:last-child", "{Home}- {End}{Enter}Paths",
        "Intro.\n\n- Beds\n- Paths\n");
    row("enter-in-a-task", "# Jobs\n\n- [ ] Dig\n", "#content li", "{Enter}Sow",
        "# Jobs\n\n- [ ] Dig\n- [ ] Sow\n");
    // The caret must stay on the new item's own line, not fall into the nested list.
    row("enter-after-an-item-with-children", "# Jobs\n\n- [ ] Mulch\n  - [ ] Ask\n", "#content li",
        "{Up}{End}{Enter}Sow", "# Jobs\n\n- [ ] Mulch\n- [ ] Sow\n  - [ ] Ask\n");
    row("tab-in-a-table-cell", table, "#content th", "{Tab}x", QByteArray(table).replace("b |", "x |"));
    row("bold-then-italic", "Hello world\n", "#content p", "{Ctrl+B}{Ctrl+I}", "Hello **_world_**\n");
    // What people write stays as written around what they type.
    row("star-list-enter", "*   Dig\n*   Sow\n\nSee [the plan][p] and _why_.\n\n[p]: plan.md\n",
        "#content li:last-child", "{Enter}Reap",
        "*   Dig\n*   Sow\n*   Reap\n\nSee [the plan][p] and _why_.\n\n[p]: plan.md\n");
    row("crlf-next-to-a-reference",
        "Intro.\r\n\r\nSee [the plan][p] and _why_\r\nto sow.\r\n\r\n[p]: plan.md\r\n",
        "#content p:last-child", " early",
        "Intro.\r\n\r\nSee [the plan][p] and _why_\r\nto sow. early\r\n\r\n[p]: plan.md\r\n");
    row("italic-undone", "Hello world\n", "#content p", "{Ctrl+B}{Ctrl+I}{Ctrl+Z}", "Hello **world**\n");
    // Ctrl+K is the Link command, never the engine's "delete to the end of the line".
    row("ctrl-k-asks-for-the-address", "Hello world\n", "#content p",
        "{Ctrl+Shift+Left}{Answer:https://example.org/}{Ctrl+K}",
        "Hello [world](https://example.org/)\n");
    row("ctrl-k-cancelled-changes-nothing", "Hello world\n", "#content p",
        "{Ctrl+Shift+Left}{Answer:}{Ctrl+K}{End} again", "Hello world again\n");
    row("typing-after-leaving-and-entering-the-view", "Hello world\n", "#content p",
        "{Ctrl+1}{Ctrl+4}{Ctrl+2}!", "Hello world!\n");
    row("typing-after-find-closes", "Hello world\n\nFirst again\n", "#content p",
        "{Ctrl+F}First{Escape}!", "Hello world\n\nFirst! again\n");
    row("typing-after-a-click-below-the-last-block", "# Short\n\nNote.\n", "", "{ClickBelow}!",
        "# Short\n\nNote.!\n");
    row("markdown-in-the-first-block-of-an-empty-note", "", "",
        "# Title{Enter}**bold** and `code` then - no", "# Title\n\n**bold** and `code` then - no\n");
    row("enter-in-a-code-block", "```\ncode\n```\n", "#content code",
        "{Enter}more{Enter}{Enter}## Head", "```\ncode\nmore\n```\n\n## Head\n");
    row("enter-in-a-quote", "Intro\n\n> quoted\n", "#content blockquote p",
        "{Enter}more{Enter}{Enter}## Head", "Intro\n\n> quoted\n>\n> more\n\n## Head\n");
    // Formatting the word at the caret leaves the caret there, not the word selected for the
    // next key to replace; what is typed next is plain.
    row("bold-key-then-typing", "Hello world\n", "#content p", "{Ctrl+B} again",
        "Hello **world** again\n");
    row("bold-button-then-typing", "Hello world\n", "#content p", "{Button:Bold} again",
        "Hello **world** again\n");
    row("heading-keys", "Intro.\n\nBeds\n", "#content p:last-child",
        "{Ctrl+Alt+3}{Ctrl+Alt+0}{Ctrl+Alt+1}", "Intro.\n\n# Beds\n");
    // In the source, a block command changes the line's start, wherever the caret is in it.
    row("heading-keys-in-the-source", "First line\nSecond\n", "", "{Right}{Right}{Ctrl+Alt+2}",
        "## First line\nSecond\n", Mode::Split);
    row("ctrl-k-in-the-source", "Hello world\n", "", "{Ctrl+Right}{Ctrl+Shift+Right}"
        "{Answer:https://example.org/}{Ctrl+K}{Answer:}{Ctrl+K}",
        "Hello [world](https://example.org/)\n", Mode::Source);
}

void TestPreviewPage::structureTypedInThePageReachesTheFile()
{
    QFETCH(Mode, mode);
    QFETCH(QByteArray, note);
    QFETCH(QString, caret);
    QFETCH(QString, keys);
    QFETCH(QByteArray, expected);
    DocumentWindow *window = mode == Mode::Source ? open(mode, note) : openRendered(mode, note);
    QVERIFY(window);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget *target = mode == Mode::Visual ? controller(window).webView()->focusProxy()
                                           : window->sourceEditor();
    QVERIFY(target);
    target->setFocus();
    if (!caret.isEmpty())
        QCOMPARE(atCaret(window, caret, u"document.activeElement.id"_s).toString(), u"content"_s);
    pressKeys(window, keys);
    core::DocumentModel &model = window->model();
    waitUntil([&] { return model.text().text().toUtf8() == expected; }, kEngineTimeout);
    QCOMPARE(model.text().text(), QString::fromUtf8(expected));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), expected);
}

// Keys go where the focus is, as a person's do.
void TestPreviewPage::pressKeys(DocumentWindow *window, const QString &keys)
{
    static const QHash<QString, Qt::Key> named = {
        {u"Enter"_s, Qt::Key_Return}, {u"Tab"_s, Qt::Key_Tab}, {u"Home"_s, Qt::Key_Home},
        {u"End"_s, Qt::Key_End}, {u"Up"_s, Qt::Key_Up}, {u"Down"_s, Qt::Key_Down},
        {u"Left"_s, Qt::Key_Left}, {u"Right"_s, Qt::Key_Right},
        {u"Escape"_s, Qt::Key_Escape}, {u"Backspace"_s, Qt::Key_Backspace},
    };
    static const QRegularExpression token(u"\\{([^}]*)\\}|[^{]+"_s);
    std::optional<QString> answer;
    for (const auto &m : token.globalMatch(keys)) {
        // What a key press set off in the window (a view switch) runs before the next one, as
        // between a person's keystrokes.
        QCoreApplication::processEvents();
        // Offscreen, a window is not made active again when a dialog over it closes.
        QWidget *focused = QApplication::focusWidget() ? QApplication::focusWidget()
                                                       : window->focusWidget();
        QVERIFY2(focused, qPrintable(m.captured(0)));
        const QString press = m.captured(1);
        if (m.captured(0).front() != u'{') {
            QTest::keyClicks(focused, m.captured(0));
        } else if (press.startsWith(u"Answer:")) {
            answer = press.mid(7);
        } else if (press.startsWith(u"Button:")) {
            const QString tip = press.mid(7);
            const auto buttons = window->findChildren<QToolButton *>();
            const auto it = std::find_if(buttons.begin(), buttons.end(), [&](QToolButton *b) {
                return b->toolTip().startsWith(tip);
            });
            QVERIFY2(it != buttons.end(), qPrintable(tip));
            QTest::mouseClick(*it, Qt::LeftButton);
            evaluate(window, u"1"_s);
        } else if (press == u"ClickBelow") {
            const QVariantList at = evaluate(window, u"(() => { const b = document.querySelector("
                                                     "'#content').lastElementChild"
                                                     ".getBoundingClientRect();"
                                                     " return [b.left + 10, b.bottom + 40]; })()"_s)
                                        .toList();
            QTest::mouseClick(controller(window).webView()->focusProxy(), Qt::LeftButton, {},
                              QPoint(at.value(0).toInt(), at.value(1).toInt()));
        } else {
            // "Ctrl+Alt+2": modifiers, then a named key or a single character.
            QStringList parts = press.split(u'+');
            const QString name = parts.takeLast();
            Qt::KeyboardModifiers modifiers;
            for (const QString &mod : parts)
                modifiers |= mod == u"Ctrl" ? Qt::ControlModifier
                    : mod == u"Alt"         ? Qt::AltModifier
                                            : Qt::ShiftModifier;
            const Qt::Key key = named.value(name, Qt::Key(QKeySequence(name)[0].key()));
            if (answer) {
                // The prompt runs an event loop of its own inside the key press.
                QTimer::singleShot(0, [text = *std::exchange(answer, std::nullopt)] {
                    answerPrompt(text);
                });
            }
            QTest::keyClick(focused, key, modifiers);
            // What the press asked of the page (closing find, a view switch) is done before the
            // next key, as it is between a person's keystrokes: the page answers in order.
            if (auto *page = PreviewController::of(window->model()); page && page->webView())
                evaluate(window, u"1"_s);
        }
    }
}

void TestPreviewPage::contextMenuIsRebuiltForTheMode_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QStringList>("titles");
    const QByteArray linked = "Read [the site](https://example.org/) and [[Other]].\n";
    QTest::newRow("selection-while-reading") << Mode::Read << kNote << "#content p"
                                             << QStringList{"Copy", "Select All"};
    QTest::newRow("selection-while-editing")
        << Mode::Visual << kNote << "#content p"
        << QStringList{"Cut", "Copy", "Paste", "", "Add Link\u2026"};
    QTest::newRow("web-link-while-reading")
        << Mode::Read << linked << "#content a[href^=http]"
        << QStringList{"Open Link", "Copy link address", "", "Copy", "Select All"}; // the web engine's own title
}

void TestPreviewPage::contextMenuIsRebuiltForTheMode()
{
    QFETCH(Mode, mode);
    QFETCH(QByteArray, note);
    QFETCH(QString, click);
    QFETCH(QStringList, titles);
    DocumentWindow *window = openRendered(mode, note);
    QVERIFY(window);
    // Select the element and find where it is.
    const QVariantList box = evaluate(window, QStringLiteral(
        "(() => { const p = document.querySelector('%1'); const r = document.createRange();"
        " r.selectNodeContents(p); getSelection().removeAllRanges(); getSelection().addRange(r);"
        " const b = p.getBoundingClientRect(); return [b.left + 5, b.top + b.height / 2]; })()")
                                                  .arg(click))
                                 .toList();
    QCOMPARE(box.size(), 2);
    QMenu *menu = contextMenuAt(window, box);
    QVERIFY(menu);
    QStringList shown;
    for (QAction *action : menu->actions())
        shown.append(action->isSeparator() ? QString() : action->text());
    menu->close();
    QCOMPARE(shown.join(u'|'), titles.join(u'|'));
}

void TestPreviewPage::hostileMarkupNeverLeavesThePage_data()
{
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<QString>("click");
    QTest::addColumn<int>("links"); // "link" messages the click and the last, plain link make
    // The sanitiser prefixes the map's name; the document names it as it will be.
    QTest::newRow("image-map-to-a-local-page")
        << QByteArray("<map name=\"m\"><area shape=\"rect\" coords=\"0,0,300,120\" "
                      "href=\"site/index.html\"></map>\n<img usemap=\"#user-content-m\" "
                      "src=\"pic.png\" width=\"300\" height=\"120\">\n")
        << "img" << 1;
    QTest::newRow("svg-link-to-a-local-page")
        << QByteArray("<svg width=\"300\" height=\"120\"><a href=\"site/index.html\">"
                      "<rect width=\"300\" height=\"120\"/></a></svg>\n")
        << "svg rect" << 2;
    QTest::newRow("math-link-to-a-launcher")
        << QByteArray("<math href=\"evil.desktop\"><mi>xxxxxxxx</mi></math>\n") << "math" << 2;
    QTest::newRow("new-window-link-to-a-program")
        << QByteArray("<a href=\"run.sh\" target=\"_blank\">run</a>\n") << "a" << 2;
}

void TestPreviewPage::hostileMarkupNeverLeavesThePage()
{
    QFETCH(QByteArray, note);
    QFETCH(QString, click);
    QFETCH(int, links);
    QDir(m_scratch->dir.path()).mkpath(QStringLiteral("site"));
    m_scratch->write(QStringLiteral("site/index.html"), "<script>document.title='taken'</script>");
    m_scratch->write(QStringLiteral("evil.desktop"), "[Desktop Entry]\nType=Application\nExec=sh\n");
    m_scratch->write(QStringLiteral("run.sh"), "#!/bin/sh\n");
    QImage picture(300, 120, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QVERIFY(picture.save(m_scratch->path(QStringLiteral("pic.png"))));

    DocumentWindow *window = openRendered(Mode::Read, note + "\n[Still here](https://example.org/)\n");
    QVERIFY(window);
    auto *page = qobject_cast<preview::QuorvelWebPage *>(controller(window).webView()->page());
    QList<QUrl> opened;
    page->openExternally = [&opened](const QUrl &url) { opened.append(url); };
    QSignalSpy refused(page, &preview::QuorvelWebPage::navigationRefused);
    const QUrl before = page->url();
    QVERIFY(waitUntil([&] {
        return evaluate(window, QStringLiteral("[...document.images].every((i) => i.complete)"))
            .toBool();
    }, kEngineTimeout));

    clickOn(window, click);
    // The engine hears of the two clicks in order: once the plain link's message is here,
    // whatever the first click set off has been decided too.
    clickOn(window, QStringLiteral("a[href^=http]"));
    QVERIFY(waitFor(messages(), QStringLiteral("link"), links));
    QCOMPARE(typesOf(messages()).count(u"link"_s), links);
    QCOMPARE(opened, QList<QUrl>());
    QCOMPARE(refused.count(), 0);
    QCOMPARE(page->url(), before);
    QVERIFY(pageText(window).contains(QStringLiteral("Still here")));
}

void TestPreviewPage::escapingNavigationLeavesThePageInPlace()
{
    DocumentWindow *window = openRendered(Mode::Read);
    QVERIFY(window);
    auto *page = qobject_cast<preview::QuorvelWebPage *>(controller(window).webView()->page());
    QList<QUrl> opened;
    page->openExternally = [&opened](const QUrl &url) { opened.append(url); };
    QSignalSpy refused(page, &preview::QuorvelWebPage::navigationRefused);
    const QUrl before = page->url();
    // Another local page, even one named like ours, never takes our page's place. Whether the
    // engine counts a script's navigation as a click (then it is opened outside) varies from
    // run to run; either way the policy is asked and the page stays.
    const QString other = m_scratch->write(QStringLiteral("index.html"), "<p>other</p>");
    evaluate(window, QStringLiteral("location.href = %1; 1")
                         .arg(preview::pagecommand::json(QUrl::fromLocalFile(other).toString())));
    QVERIFY(waitUntil([&] { return !opened.isEmpty() || !refused.isEmpty(); }, kEngineTimeout));
    const QUrl asked = opened.isEmpty() ? refused.first().first().toUrl() : opened.first();
    QCOMPARE(asked, QUrl::fromLocalFile(other));
    QCOMPARE(page->url(), before);
    QVERIFY(pageText(window).contains(QStringLiteral("First paragraph.")));
}

void TestPreviewPage::missingPageIsReportedOnce()
{
    // A process of its own: the web directory is read once per process.
    QProcess quorvel;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVEL_WEB_DIR"), m_scratch->path(QStringLiteral("no-page")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_scratch->path(QStringLiteral("config")));
    quorvel.setProcessEnvironment(env);
    quorvel.start(QStringLiteral(QUORVEL_EXECUTABLE),
                  {m_scratch->write(QStringLiteral("note.md"), kNote)});
    QVERIFY(quorvel.waitForStarted());
    QByteArray errors;
    const bool reported = waitUntil(
        [&] {
            errors += quorvel.readAllStandardError();
            return errors.contains("[webview] load failed: ");
        },
        kEngineTimeout);
    quorvel.kill();
    quorvel.waitForFinished();
    errors += quorvel.readAllStandardError();
    QVERIFY2(reported, errors.constData());
    QCOMPARE(errors.count("[webview] load failed: "), 1);
}

// Without a GPU everything is composed in software, and the X11 platform must not load Mesa's
// software rasteriser (with LLVM under it) for nothing: it held back every start by 35-180 ms.
void TestPreviewPage::withoutAGpuNoOpenGlIsLoaded()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("only the X11 platform loads OpenGL as it starts");
    if (!QDir(u"/dev/dri"_s).entryList({u"renderD*"_s}, QDir::System).isEmpty())
        QSKIP("this machine has a GPU: OpenGL is used");
    DocumentWindow *window = openRendered(Mode::Read);
    QVERIFY(window);
    QVERIFY(pageText(window).contains(u"First paragraph."_s));
    QFile maps(u"/proc/self/maps"_s);
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    for (const char *library : {"swrast_dri", "libGLX_mesa", "libLLVM"})
        QVERIFY2(!mapped.contains(library), library);
}

// One renderer process serves every window's page; when it dies, each page loads again and
// shows its note as it was shown, editable where it was.
void TestPreviewPage::pagesShareAProcessAndComeBackWhenItDies_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::newRow("read") << Mode::Read;
    QTest::newRow("visual") << Mode::Visual;
}

void TestPreviewPage::pagesShareAProcessAndComeBackWhenItDies()
{
    QFETCH(Mode, mode);
    m_scratch->store.setValue(u"lastMode"_s, core::DocumentModel::storedName(mode));
    QList<DocumentWindow *> windows;
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (const QString &name : {u"one"_s, u"two"_s}) {
        const QString path = m_scratch->write(name + u".md"_s, "Text of " + name.toUtf8() + ".\n");
        windows.append(DocumentController::shared().openDocument(path));
        QVERIFY(windows.last());
        spies.push_back(std::make_unique<QSignalSpy>(&controller(windows.last()),
                                                     &PreviewController::messageReceived));
        QVERIFY(waitFor(*spies.back(), u"rendered"_s));
    }
    const qint64 shared = controller(windows[0]).webView()->page()->renderProcessPid();
    QVERIFY(shared > 0);
    QCOMPARE(controller(windows[1]).webView()->page()->renderProcessPid(), shared);
    // Without a sandbox the renderer is started by this process itself: no zygotes held beside
    // it, before its death and after.
    const bool unsandboxed = qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX");
    if (unsandboxed)
        QCOMPARE(parentProcess(shared), QCoreApplication::applicationPid());

    for (auto &spy : spies)
        spy->clear();
    QCOMPARE(::kill(pid_t(shared), SIGKILL), 0);
    for (int i = 0; i < windows.size(); ++i) {
        QVERIFY2(waitFor(*spies[i], u"rendered"_s), qPrintable(typesOf(*spies[i]).join(u' ')));
        QVERIFY(pageText(windows[i]).contains(i == 0 ? u"Text of one."_s : u"Text of two."_s));
        QCOMPARE(editable(windows[i]), mode == Mode::Visual);
        const qint64 again = controller(windows[i]).webView()->page()->renderProcessPid();
        QVERIFY(again != shared);
        if (unsandboxed)
            QCOMPARE(parentProcess(again), QCoreApplication::applicationPid());
    }
}

void TestPreviewPage::aNewWindowHasTheFocusWhereTypingGoes_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<bool>("inSource");
    QTest::newRow("split") << Mode::Split << true;
    QTest::newRow("source") << Mode::Source << true;
    QTest::newRow("editing") << Mode::Visual << false;
}

void TestPreviewPage::aNewWindowHasTheFocusWhereTypingGoes()
{
    QFETCH(Mode, mode);
    QFETCH(bool, inSource);
    DocumentWindow *window = open(mode, "# Note\n");
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QWidget *area = inSource ? static_cast<QWidget *>(window->sourceEditor())
                             : controller(window).webView();
    QVERIFY(waitUntil([&] {
        QWidget *focus = QApplication::focusWidget();
        return focus && (focus == area || area->isAncestorOf(focus));
    }, kEngineTimeout));
}

// Keys pressed in the editing view while its page still loads and then builds a long note go
// in, in order, once it takes typing: before, the first were dropped and the next typed in
// backwards, each at the start of the heading.
void TestPreviewPage::typingBeforeTheEditingViewTakesItIsKept()
{
    const QByteArray note = longNote("# Keys", PreviewController::kFirstScreenAheadFrom);
    DocumentWindow *window = open(Mode::Visual, note);
    QWebEngineView *page = controller(window).webView();
    QTest::keyClicks(page, u"Earlx"_s);
    QTest::keyClick(page, Qt::Key_Backspace);
    QSignalSpy messages(&controller(window), &PreviewController::messageReceived);
    QVERIFY(waitFor(messages, u"rendered"_s));
    QWidget *keys = page->focusProxy() ? page->focusProxy() : page;
    for (const QChar c : u"y, then"_s) {
        QTest::keyClicks(keys, c);
        QTest::qWait(20);
    }
    const auto reaches = [&](const QString &start) {
        return waitUntil([&] {
            controller(window).flushEditsNow();
            return window->text().text().startsWith(start);
        }, kEngineTimeout);
    };
    QVERIFY(reaches(u"# Early, thenKeys\n"_s));

    // A burst of keys into the block Enter makes, which the engine would skip until its next
    // frame: they went in at its start, the last first.
    atCaret(window, u"#content h1"_s, u"1"_s);
    QTest::keyClick(keys, Qt::Key_Return);
    QTest::keyClicks(keys, u"burst"_s);
    QVERIFY(reaches(u"# Early, thenKeys\n\nburst\n"_s));
    // The same into the second half of a paragraph split in two, a copy of the first.
    evaluate(window, u"(() => { const t = document.querySelector('#content h1').nextElementSibling"
                     ".firstChild; getSelection().collapse(t, 2); return 1; })()"_s);
    QTest::keyClick(keys, Qt::Key_Return);
    QTest::keyClicks(keys, u"split"_s);
    QVERIFY(reaches(u"# Early, thenKeys\n\nbu\n\nsplitrst\n"_s));
}

// Keys pressed right after switching to the editing view, and the view left at once, before
// the page took typing: they go in before it stops taking it.
void TestPreviewPage::typingJustBeforeLeavingTheEditingViewIsKept()
{
    const QByteArray note = longNote("# Keys", PreviewController::kFirstScreenAheadFrom);
    DocumentWindow *window = openRendered(Mode::Split, note);
    QVERIFY(window);
    window->model().setMode(Mode::Visual);
    QVERIFY(waitUntil([&] { return controller(window).editable(); }, kEngineTimeout));
    QWebEngineView *page = controller(window).webView();
    QTest::keyClicks(page->focusProxy() ? page->focusProxy() : page, u"Kept"_s);
    window->model().setMode(Mode::Split);
    QVERIFY(waitUntil([&] { return window->text().text().startsWith(u"# KeptKeys\n"_s); },
                      kEngineTimeout));
}

// Typing at once after switching between the source and the editing view goes in where the
// caret was in the view left; it went in at the top of the note, or at the other view's own
// old caret.
void TestPreviewPage::typingAfterASwitchGoesOnAtTheCaret_data()
{
    QTest::addColumn<Mode>("from");
    QTest::addColumn<Mode>("to");
    QTest::newRow("source to editing") << Mode::Source << Mode::Visual;
    QTest::newRow("split to editing") << Mode::Split << Mode::Visual;
    QTest::newRow("editing to source") << Mode::Visual << Mode::Source;
    QTest::newRow("editing to split") << Mode::Visual << Mode::Split;
}

void TestPreviewPage::typingAfterASwitchGoesOnAtTheCaret()
{
    QFETCH(Mode, from);
    QFETCH(Mode, to);
    const QByteArray note = "# Title\n\nFirst paragraph.\n\nSome **bold** words here.\n";
    DocumentWindow *window = openRendered(from, note);
    QVERIFY(window);
    const qsizetype at = note.indexOf("words");
    if (from == Mode::Visual) {
        QVERIFY(waitUntil([&] { return controller(window).editable(); }, kEngineTimeout));
        // The caret before "words", put there as a click would.
        QVERIFY(evaluate(window, uR"((() => { const p = document.querySelectorAll('#content p')[1];
            const t = p.lastChild; getSelection().collapse(t, t.data.indexOf('words')); return true; })())"_s)
                    .toBool());
    } else {
        QTextCursor cursor = window->sourceEditor()->textCursor();
        cursor.setPosition(int(at));
        window->sourceEditor()->setTextCursor(cursor);
    }
    window->model().setMode(to);
    QWidget *target = to == Mode::Visual ? controller(window).webView()->focusProxy()
                                         : static_cast<QWidget *>(window->sourceEditor());
    QVERIFY(target);
    QTest::keyClicks(target, u"new "_s);
    QVERIFY2(waitUntil([&] {
                 controller(window).flushEditsNow();
                 return window->text().text().contains(u"**bold** new words");
             }, kEngineTimeout),
             qPrintable(window->text().text() + pageText(window)));
    QCOMPARE(window->text().text(), u"# Title\n\nFirst paragraph.\n\nSome **bold** new words here.\n"_s);
}

// A long note shown on the page alone leaves the source editor empty after the page has
// rendered; shown, the source holds the text with what the page edited meanwhile. In the split
// view the source is there once the page has drawn.
void TestPreviewPage::longNoteFillsTheSourceEditorWhenItIsShown_data()
{
    QTest::addColumn<Mode>("opened");
    QTest::addColumn<Mode>("then");
    QTest::newRow("read, then source") << Mode::Read << Mode::Source;
    QTest::newRow("visual, then split") << Mode::Visual << Mode::Split;
    QTest::newRow("split") << Mode::Split << Mode::Split;
}

void TestPreviewPage::longNoteFillsTheSourceEditorWhenItIsShown()
{
    QFETCH(Mode, opened);
    QFETCH(Mode, then);
    const QByteArray note = longNote("# Long", editor::EditorController::kFillInSlicesFrom);
    DocumentWindow *window = openRendered(opened, note);
    QVERIFY(window);
    QTest::qWait(1000); // well past the pause the page gets to draw after its render
    QCOMPARE(window->sourceEditor()->document()->isEmpty(), opened != Mode::Split);

    QVERIFY(window->text().apply({0, 0, u"Edited. "_s}, core::EditOrigin::Page));
    window->model().setMode(then);
    QCOMPARE(window->sourceEditor()->rawText(), window->text().text());
    QVERIFY(window->text().text().startsWith(u"Edited. # Long"_s));
}

// A task ticked with the mouse changes its own line of the file, counted past a task-looking
// line in code; a wikilink opens its note in a window of its own, scrolled to the heading.
void TestPreviewPage::checkboxesAndWikilinksWorkFromTheReadingView()
{
    QDir(m_scratch->dir.path()).mkpath(QStringLiteral(".obsidian"));
    QDir(m_scratch->dir.path()).mkpath(QStringLiteral("Projects"));
    QByteArray beds = "# Beds\n\n";
    for (int i = 0; i < 80; ++i)
        beds += "Filler line " + QByteArray::number(i) + ".\n\n";
    beds += "## Two\n\n" + beds;
    m_scratch->write(QStringLiteral("Projects/Beds.md"), beds);
    const QByteArray note = "See [[beds#Two]].\n\n```\n- [ ] in code\n```\n\n- [ ] first\n- [ ] second\n";
    DocumentWindow *window = openRendered(Mode::Read, note);
    QVERIFY(window);

    clickOn(window, QStringLiteral("li:nth-child(2) input"));
    QVERIFY(waitUntil([&] { return window->model().text().text().contains(u"- [x] second"); },
                      kEngineTimeout));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()),
             QByteArray(note).replace("- [ ] second", "- [x] second"));

    clickOn(window, QStringLiteral("a[data-wikilink]"));
    DocumentWindow *opened = nullptr;
    QVERIFY(waitUntil([&] {
        return (opened = DocumentController::shared().windowForPath(
                    m_scratch->path(QStringLiteral("Projects/Beds.md"))));
    }, kEngineTimeout));
    // Rendered, then the heading is revealed a moment later (on the test's clock).
    QVERIFY(waitUntil([&] {
        return evaluate(opened, QStringLiteral("!!document.querySelector('#content h2')")).toBool();
    }, kEngineTimeout));
    m_scratch->clock.advance(1s);
    QVERIFY(waitUntil([&] {
        return evaluate(opened, QStringLiteral("(() => { const top = document.querySelector("
                                               "'#content h2').getBoundingClientRect().top;"
                                               " return top >= 0 && top < 120; })()"))
            .toBool();
    }, kEngineTimeout));
    QCOMPARE(m_external, QList<QUrl>());
}

void TestPreviewPage::findBarShowsWhatThePageFound_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::newRow("read") << Mode::Read;
    QTest::newRow("visual") << Mode::Visual;
    QTest::newRow("split") << Mode::Split;
}

void TestPreviewPage::findBarShowsWhatThePageFound()
{
    QFETCH(Mode, mode);
    DocumentWindow *window = openRendered(mode);
    QVERIFY(window);
    core::DocumentModel &model = window->model();
    app::FindBar *bar = window->findBar();
    const auto marks = [&] {
        return evaluate(window, u"document.querySelectorAll('mark.find-hit').length"_s).toInt();
    };

    model.find();
    QVERIFY(bar->isVisible());
    QTest::keyClicks(bar->field(), QStringLiteral("PARAGRAPH"));
    QVERIFY(waitUntil([&] { return bar->resultText() == u"1/2"_s; }, kEngineTimeout));
    QCOMPARE(marks(), 2);
    QTest::keyClick(bar->field(), Qt::Key_Return);
    QVERIFY(waitUntil([&] { return bar->resultText() == u"2/2"_s; }, kEngineTimeout));
    QTest::keyClick(bar->field(), Qt::Key_Return, Qt::ShiftModifier);
    QVERIFY(waitUntil([&] { return bar->resultText() == u"1/2"_s; }, kEngineTimeout));

    QTest::keyClicks(bar->field(), QStringLiteral("zebra"));
    QVERIFY(waitUntil([&] { return bar->resultText() == u"None"_s; }, kEngineTimeout));
    QCOMPARE(model.findCount(), 0);

    bar->field()->setText(QString());
    QTest::keyClicks(bar->field(), QStringLiteral("first"));
    QVERIFY(waitUntil([&] { return model.findCount() == 1; }, kEngineTimeout));
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
    QCOMPARE(model.findQuery(), u"first"_s);
    QCOMPARE(model.findCount(), 0);
    QVERIFY(waitUntil([&] { return marks() == 0; }, kEngineTimeout));
    // Leaving the marks behind must not have touched the text.
    QCOMPARE(window->text().text(), QString::fromUtf8(kNote));
}

QMenu *TestPreviewPage::contextMenuOn(DocumentWindow *window, const QString &word)
{
    const QVariantList box = evaluate(window, QStringLiteral(
        "(() => { const walker = document.createTreeWalker(document.getElementById('content'),"
        " NodeFilter.SHOW_TEXT); for (let n; (n = walker.nextNode());) {"
        " const i = n.data.indexOf(%1); if (i < 0) continue; const r = document.createRange();"
        " r.setStart(n, i); r.setEnd(n, i + %1.length); const b = r.getBoundingClientRect();"
        " return [b.left + b.width / 2, b.top + b.height / 2]; } return []; })()")
                                                  .arg(preview::pagecommand::json(word)))
                                 .toList();
    return contextMenuAt(window, box);
}

QMenu *TestPreviewPage::contextMenuAt(DocumentWindow *window, const QVariantList &point)
{
    if (point.size() != 2)
        return nullptr;
    if (QWidget *open = QApplication::activePopupWidget())
        open->close();
    QWidget *target = controller(window).webView()->focusProxy();
    const QPoint at(point.at(0).toInt(), point.at(1).toInt());
    QTest::mousePress(target, Qt::RightButton, {}, at);
    QTest::mouseRelease(target, Qt::RightButton, {}, at);
    QMenu *menu = nullptr;
    waitUntil([&] { return (menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())); },
              kEngineTimeout);
    return menu;
}

void TestPreviewPage::spellingGuessesAndLearntWordsReachBothViews()
{
    const QString note = u"Tihs qorvelish note.\n\nAnd teh end.\n"_s;
    DocumentWindow *window = openRendered(Mode::Visual, note.toUtf8());
    QVERIFY(window);
    const auto request = [&] { return controller(window).webView()->lastContextMenuRequest(); };
    // The engine checks what is in the focused text once its dictionary is in: until then a
    // click finds no misspelling. The menu stays open on the last try.
    QMenu *menu = nullptr;
    const auto rightClickUntil = [&](const QString &word, const QString &misspelt) {
        return waitUntil([&] {
            atCaret(window, u"#content p"_s, u"1"_s);
            menu = contextMenuOn(window, word);
            return menu && request() && request()->misspelledWord() == misspelt;
        }, kEngineTimeout);
    };
    QVERIFY(rightClickUntil(u"Tihs"_s, u"Tihs"_s));

    // The best guess comes first and is active; taking it changes that word in the file.
    const QStringList guesses = request()->spellCheckerSuggestions();
    QVERIFY(!guesses.isEmpty());
    QCOMPARE(menu->actions().constFirst()->text(), guesses.constFirst());
    QCOMPARE(menu->activeAction(), menu->actions().constFirst());
    menu->actions().constFirst()->trigger();
    QString expected = note;
    expected.replace(u"Tihs"_s, guesses.constFirst());
    QVERIFY(waitUntil([&] { return window->model().text().text() == expected; }, kEngineTimeout));
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), expected.toUtf8());

    // Learnt on the page: written to the user's list and known to the source editor at once.
    menu = contextMenuOn(window, u"qorvelish"_s);
    QVERIFY(menu);
    QCOMPARE(request()->misspelledWord(), u"qorvelish"_s);
    QAction *learn = nullptr;
    for (QAction *action : menu->actions())
        learn = action->text() == u"Add to Dictionary" ? action : learn;
    QVERIFY(learn);
    learn->trigger();
    const QString wordsFile = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + u"/Quorvel/words.txt"_s;
    QCOMPARE(ScratchEnvironment::read(wordsFile), QByteArray("qorvelish\n"));

    // The source editor: the learnt word unmarked, a guess for another taken as one edit.
    window->model().setMode(Mode::Source);
    editor::MarkdownTextView *source = window->sourceEditor();
    source->checkSpelling();
    QStringList marked;
    for (const auto &mark : source->spellingMarks())
        marked.append(mark.cursor.selectedText());
    QCOMPARE(marked, QStringList{u"teh"_s});
    QMenu *sourceMenu = source->createEditMenu(int(expected.indexOf(u"teh"_s)) + 1);
    const QString guess = sourceMenu->actions().constFirst()->text();
    sourceMenu->actions().constFirst()->trigger();
    delete sourceMenu;
    expected.replace(u"teh"_s, guess);
    QCOMPARE(window->model().text().text(), expected);
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(window->filePath()), expected.toUtf8());

    // After a restart both views know the word from the list on disk alone.
    app::Spelling restarted(themes::Appearance::shared(), wordsFile);
    const QString language = restarted.defaultLanguage();
    QVERIFY(restarted.checker(language)->isCorrect(u"qorvelish"));
    QSignalSpy ready(&restarted.engine(), &preview::EngineDictionaries::ready);
    QCOMPARE(restarted.profile(language), QWebEngineProfile::defaultProfile());
    QVERIFY(ready.wait(kEngineTimeout));
    window->model().setMode(Mode::Visual);
    QVERIFY(rightClickUntil(u"qorvelish"_s, QString()));
    menu->close();
}

void TestPreviewPage::replaceInTheRenderedViewsEditsTheSource_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<QString>("query");
    QTest::addColumn<core::FindOptions>("options");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("found"); // what the bar shows of the page's matches
    QTest::addColumn<QString>("replaced");
    const QString note = QString::fromUtf8(kNote);
    QTest::newRow("visual, groups") << Mode::Visual << u"(\\w+) paragraph"_s
                                    << core::FindOptions{.matchCase = true, .regularExpression = true}
                                    << u"$1 section"_s << u"1/2"_s
                                    << QString(note).replace(u" paragraph"_s, u" section"_s);
    QTest::newRow("split, whole word") << Mode::Split << u"paragraph"_s
                                       << core::FindOptions{.wholeWord = true} << u"part"_s
                                       << u"1/2"_s << QString(note).replace(u"paragraph"_s, u"part"_s);
    QTest::newRow("split, match case") << Mode::Split << u"PARAGRAPH"_s
                                       << core::FindOptions{.matchCase = true} << u"x"_s
                                       << u"None"_s << note;
}

void TestPreviewPage::replaceInTheRenderedViewsEditsTheSource()
{
    QFETCH(Mode, mode);
    QFETCH(QString, query);
    QFETCH(core::FindOptions, options);
    QFETCH(QString, replacement);
    QFETCH(QString, found);
    QFETCH(QString, replaced);
    DocumentWindow *window = openRendered(mode);
    QVERIFY(window);
    core::DocumentModel &model = window->model();
    app::FindBar *bar = window->findBar();
    // In split view the page's bar is the one of the pane with the focus.
    controller(window).webView()->setFocus();
    window->findCommand(DocumentWindow::FindCommand::FindAndReplace);
    QVERIFY(bar->isVisible() && bar->replaceShown());
    model.setFindOptions(options);
    QTest::keyClicks(bar->field(), query);
    QVERIFY(waitUntil([&] { return bar->resultText() == found; }, kEngineTimeout));
    QTest::keyClicks(bar->replaceField(), replacement);
    QTest::mouseClick(bar->replaceAllButton(), Qt::LeftButton);
    QCOMPARE(window->text().text(), replaced);
    m_scratch->clock.advance(PreviewController::kRenderDelay);
    // The page shows the new text, in which nothing matches any more.
    QVERIFY(waitUntil([&] { return model.findCount() == 0; }, kEngineTimeout));
    const QString firstParagraph = replaced.section(u'\n', 2, 2);
    QVERIFY(waitUntil([&] { return pageText(window).contains(firstParagraph); }, kEngineTimeout));

    // One undo takes back the whole Replace All, and the page finds the matches again.
    window->text().undo();
    QCOMPARE(window->text().text(), QString::fromUtf8(kNote));
    m_scratch->clock.advance(PreviewController::kRenderDelay);
    QVERIFY(waitUntil([&] { return bar->resultText() == found; }, kEngineTimeout));
}

void TestPreviewPage::closingFindLeavesNoLinkFocused()
{
    DocumentWindow *window = openRendered(Mode::Read, "See [the site](https://example.org/) here.\n\nSome words.\n");
    QVERIFY(window);
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->model().setShowFind(true);
    window->findBar()->focusField();
    QVERIFY(window->findBar()->field()->hasFocus());
    QTest::keyClick(window->findBar()->field(), Qt::Key_Escape);
    QVERIFY(!window->findBar()->isVisible());
    // Handed on as Tab would, the focus went to the page's first link, ringed.
    QVERIFY(waitUntil([&] { return evaluate(window, u"document.hasFocus()"_s).toBool(); }, kEngineTimeout));
    const QString focused = evaluate(window, u"document.activeElement.tagName"_s).toString();
    QVERIFY2(focused != u"A", qPrintable(focused));
}

void TestPreviewPage::editItemsFollowThePage_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("clipboard"); // empty: nothing on it
    QTest::addColumn<QStringList>("enabled");
    QTest::newRow("reading-selection") << Mode::Read << true << u"x"_s
                                       << QStringList{u"Copy"_s, u"Select All"_s};
    QTest::newRow("editing-selection")
        << Mode::Visual << true << u"x"_s
        << QStringList{u"Cut"_s, u"Copy"_s, u"Paste"_s, u"Paste as Plain Text"_s, u"Select All"_s};
    QTest::newRow("editing-caret-empty-clipboard") << Mode::Visual << false << QString()
                                                   << QStringList{u"Select All"_s};
    // The split view's page shows the text and takes no edits; the source beside it does.
    QTest::newRow("split-page-selection") << Mode::Split << true << u"x"_s
                                          << QStringList{u"Copy"_s, u"Select All"_s};
}

void TestPreviewPage::editItemsFollowThePage()
{
    QFETCH(Mode, mode);
    QFETCH(bool, selected);
    QFETCH(QString, clipboard);
    QFETCH(QStringList, enabled);
    DocumentWindow *window = openRendered(mode);
    QVERIFY(window);
    QWebEngineView *view = controller(window).webView();
    view->setFocus();
    atCaret(window, u"#content p"_s,
            selected ? u"getSelection().modify('extend', 'backward', 'word')"_s : u"0"_s);
    QVERIFY(waitUntil([&] { return view->page()->hasSelection() == selected; }, kEngineTimeout));
    if (clipboard.isEmpty())
        QApplication::clipboard()->clear();
    else
        QApplication::clipboard()->setText(clipboard);
    QMenu *edit = topMenu(window, u"Edit"_s);
    QVERIFY(edit);
    edit->popup(window->mapToGlobal(QPoint(10, 10)));
    QStringList shown;
    for (QAction *action : edit->actions()) {
        if (action->isEnabled() && action->menuRole() != QAction::PreferencesRole
            && !action->isSeparator())
            shown << action->text().remove(u'&');
        if (action->text().remove(u'&') == u"Select All")
            break;
    }
    edit->close();
    QCOMPARE(shown, enabled);
}

void TestPreviewPage::plainPasteIsTypedTextAndOneUndoStep()
{
    DocumentWindow *window = openRendered(Mode::Visual);
    QVERIFY(window);
    controller(window).webView()->setFocus();
    typeInPage(window, u" Typed."_s);
    controller(window).flushEditsNow();
    const QString typed = window->text().text();
    QVERIFY(typed.contains(u"First paragraph. Typed."));
    // Pasted as usual, this would be read as Markdown: bold, and a paragraph of its own.
    QApplication::clipboard()->setText(u"**bold**\nnext"_s);
    pressKeys(window, u"{Ctrl+Shift+V}"_s);
    QVERIFY(waitUntil([&] { return window->text().text() != typed; }, kEngineTimeout));
    QVERIFY(pageText(window).contains(u"Typed.**bold**"));
    QCOMPARE(evaluate(window, u"document.querySelectorAll('#content strong').length"_s).toInt(), 0);
    // One press, one step: the paste goes, the typing before it stays.
    pressKeys(window, u"{Ctrl+Z}"_s);
    QVERIFY(waitUntil([&] { return window->text().text() == typed; }, kEngineTimeout));
    evaluate(window, u"1"_s);
    QCOMPARE(window->text().text(), typed);
}

void TestPreviewPage::undoKeyInTheSplitViewsPageTakesBackOneStep()
{
    DocumentWindow *window = openRendered(Mode::Split);
    QVERIFY(window);
    window->text().replaceAll(u"# Two\n"_s, core::EditOrigin::SourceEditor);
    window->text().replaceAll(u"# Three\n"_s, core::EditOrigin::SourceEditor);
    // The page takes no edits here, so the Edit menu's Undo has the key, as in the source.
    controller(window).webView()->setFocus();
    pressKeys(window, u"{Ctrl+Z}"_s);
    QCOMPARE(window->text().text(), u"# Two\n"_s);
}

void TestPreviewPage::formattingFromTheSplitViewsPageLeavesTheSourceAlone()
{
    DocumentWindow *window = openRendered(Mode::Split);
    QVERIFY(window);
    const QString before = window->text().text();
    // A selection left in the source, while the user reads and chooses on the page.
    QTextCursor chosen = window->sourceEditor()->textCursor();
    chosen.setPosition(2);
    chosen.setPosition(8, QTextCursor::KeepAnchor);
    window->sourceEditor()->setTextCursor(chosen);
    controller(window).webView()->setFocus();
    pressKeys(window, u"{Ctrl+I}"_s);
    pressKeys(window, u"{Ctrl+B}"_s);
    QCOMPARE(window->text().text(), before);
}

int main(int argc, char **argv)
{
    quorvel::app::prepareEnvironment(argc, argv);
    QApplication app(argc, argv);
    quorvel::app::installControllers();
    TestPreviewPage test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_previewpage.moc"
