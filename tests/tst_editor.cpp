#include "app/spelling.h"
#include "themes/appearance.h"
#include "themes/settingsstore.h"
#include "modelharness.h"

#include "core/lineendings.h"
#include "editor/editorcontroller.h"
#include "editor/markdownhighlighter.h"
#include "editor/markdowntextview.h"
#include "editor/spellchecker.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

using namespace quorvel::editor;
using namespace Qt::StringLiterals;

// A harness model with the source editor on it, wired as the window wires it.
struct EditorRig
{
    FakePreviewFactory previews;
    Harness h;
    MarkdownTextView view;
    std::unique_ptr<EditorController> controller;
    QList<TextEdit> edits;

    explicit EditorRig(const QByteArray &initial)
        : h(initial)
    {
        controller = std::make_unique<EditorController>(*h.model, view);
        QObject::connect(h.text, &DocumentText::edited, h.text,
                         [this](const TextEdit &edit, EditOrigin) { edits.append(edit); });
        view.resize(600, 300);
    }
    QString text() const { return h.current(); }
    bool focus()
    {
        view.show();
        view.activateWindow();
        view.setFocus();
        return QTest::qWaitForWindowActive(&view) && view.hasFocus();
    }
    // A write by another program, taken in as a reload.
    void reload(const QByteArray &bytes)
    {
        h.scratch.write(u"note.md"_s, bytes);
        h.model->reloadFromDisk();
    }
    void compose(const QString &preedit, const QString &commit = {})
    {
        QInputMethodEvent event(preedit, {});
        event.setCommitString(commit);
        QCoreApplication::sendEvent(&view, &event);
    }
};

class TestEditor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keystrokeIsOneEditWhereItWasTyped();
    void changesFromOtherViewsAreMadeInPlace_data();
    void changesFromOtherViewsAreMadeInPlace();
    void reloadKeepsCaretAndScroll();
    void reloadWhileComposingKeepsTheComposition();
    void undoTakesBackTypingRunsAndOtherViewsEdits();
    void scrollFractionReachesThePreview();
    void wrapSelectionUndoesInOneStep();
    void wrapSelectionLeavesSpacesAtItsEdgesOutside_data();
    void wrapSelectionLeavesSpacesAtItsEdgesOutside();
    void contextMenuOffersAddLinkForASelection();
    void misspeltWordsAreFoundInProseOnly_data();
    void misspeltWordsAreFoundInProseOnly();
    void wordsAddedOrIgnoredAreNoLongerMarked();
    void misspeltWordsAreMarkedAndAGuessIsOneEdit();
    void aNoteChoosesItsLanguageInItsFrontMatter_data();
    void aNoteChoosesItsLanguageInItsFrontMatter();
    void blockCommandsChangeOnlyTheMarkers_data();
    void blockCommandsChangeOnlyTheMarkers();
    void editKeepsUntouchedLineBreaks_data();
    void editKeepsUntouchedLineBreaks();
    void charactersPassUnchanged_data();
    void charactersPassUnchanged();
    void editsReachTheModelExactly_data();
    void editsReachTheModelExactly();
    void largeTextIsNotColoured();
    void longTextIsFilledInFromTheEventLoop_data();
    void longTextIsFilledInFromTheEventLoop();
    void outlineEntriesFindTheirLine_data();
    void outlineEntriesFindTheirLine();
    void marksAreColouredBlockByBlock_data();
    void marksAreColouredBlockByBlock();
    void longLinesAreCutBeforeAWord_data();
    void longLinesAreCutBeforeAWord();
    void longLinesShownInPiecesKeepTheText_data();
    void longLinesShownInPiecesKeepTheText();
};

void TestEditor::keystrokeIsOneEditWhereItWasTyped()
{
    EditorRig rig("start\r\nend\r\n");
    rig.view.moveCursor(QTextCursor::End);
    QTest::keyClick(&rig.view, 'x');
    rig.view.moveCursor(QTextCursor::Start);
    QTest::keyClick(&rig.view, Qt::Key_Return);
    // Offsets count the file's "\r\n" as two; a new line gets the file's own break.
    QCOMPARE(rig.edits, (QList<TextEdit>{{12, 0, u"x"_s}, {0, 0, u"\r\n"_s}}));
    QCOMPARE(rig.h.origins, QList<EditOrigin>(2, EditOrigin::SourceEditor));
    QCOMPARE(rig.text(), u"\r\nstart\r\nend\r\nx"_s);
}

// Another view's edit lands where it belongs; the caret and what was typed around it stay.
void TestEditor::changesFromOtherViewsAreMadeInPlace_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("caret"); // in the widget, from the end of the second line before
    QTest::newRow("word-in-the-first-line") << u"one\ntwo\n"_s << 0 << 3 << u"uno"_s
                                            << u"uno\ntwo\n"_s << 7;
    QTest::newRow("line-added-above") << u"one\ntwo\n"_s << 0 << 0 << u"zero\n"_s
                                      << u"zero\none\ntwo\n"_s << 12;
    QTest::newRow("crlf-file") << u"one\r\ntwo\r\n"_s << 5 << 3 << u"2"_s << u"one\n2\n"_s << 5;
    QTest::newRow("crlf-joined-lines") << u"one\r\ntwo\r\n"_s << 3 << 2 << QString()
                                       << u"onetwo\n"_s << 6;
    QTest::newRow("paragraph-separator") << u"a\u2029b\n"_s << 2 << 1 << u"c"_s << u"a\nc\n"_s << 3;
}

void TestEditor::changesFromOtherViewsAreMadeInPlace()
{
    QFETCH(QString, file);
    QFETCH(int, start);
    QFETCH(int, removed);
    QFETCH(QString, inserted);
    QFETCH(QString, shown);
    QFETCH(int, caret);
    EditorRig rig(file.toUtf8());
    QTextCursor cursor(rig.view.document()->findBlockByNumber(1));
    cursor.movePosition(QTextCursor::EndOfBlock);
    rig.view.setTextCursor(cursor);
    QVERIFY(rig.h.text->apply({start, removed, inserted}, EditOrigin::Page));
    QCOMPARE(rig.view.rawText(), shown);
    QCOMPARE(rig.view.textCursor().position(), caret);
    QCOMPARE(rig.h.origins, QList{EditOrigin::Page}); // nothing came back from the editor
    QTest::keyClick(&rig.view, 'x');
    QCOMPARE(editorForm(rig.text()), rig.view.rawText());
}

void TestEditor::reloadKeepsCaretAndScroll()
{
    QByteArray lines;
    for (int i = 0; i < 300; ++i)
        lines += "line " + QByteArray::number(i) + "\n";
    EditorRig rig(lines);
    QVERIFY(rig.focus());
    QTextCursor cursor = rig.view.textCursor();
    cursor.setPosition(2000);
    rig.view.setTextCursor(cursor);
    QScrollBar *bar = rig.view.verticalScrollBar();
    QVERIFY(bar->maximum() > 150);
    bar->setValue(150);

    // Another program changed a line near the end: only that line is replaced.
    QByteArray changed = lines;
    changed.replace("line 290\n", "line two hundred ninety\n");
    rig.reload(changed);
    QCOMPARE(rig.view.toPlainText(), QString::fromUtf8(changed));
    QCOMPARE(rig.view.textCursor().position(), 2000);
    QCOMPARE(bar->value(), 150);
    QCOMPARE(rig.edits.size(), 1);
    QCOMPARE(rig.edits.first().inserted, u"two hundred ninety"_s);

    rig.reload("short");
    QCOMPARE(rig.view.toPlainText(), u"short"_s);
    QCOMPARE(rig.view.textCursor().position(), 5);
}

void TestEditor::reloadWhileComposingKeepsTheComposition()
{
    EditorRig rig("start\n");
    QVERIFY(rig.focus());
    rig.view.moveCursor(QTextCursor::End);
    rig.compose(u"ka"_s);
    QVERIFY(rig.view.isComposing());
    rig.reload("from disk\n");
    QCOMPARE(rig.view.toPlainText(), u"from disk\n"_s);
    rig.compose(u"kan"_s);
    rig.compose({}, u"\u304B\u3093"_s);
    QVERIFY(!rig.view.isComposing());
    QCOMPARE(rig.text(), u"from disk\n\u304B\u3093"_s);
    QCOMPARE(rig.view.rawText(), rig.text());
}

void TestEditor::undoTakesBackTypingRunsAndOtherViewsEdits()
{
    EditorRig rig("one\r\ntwo\r\n");
    rig.view.moveCursor(QTextCursor::End);
    QTest::keyClicks(&rig.view, u"ab"_s);
    QTest::keyClick(&rig.view, Qt::Key_Return);
    QTest::keyClicks(&rig.view, u"cd"_s);
    // Typed in the editing view meanwhile.
    QVERIFY(rig.h.text->apply({0, 3, u"uno"_s}, EditOrigin::Page));
    QCOMPARE(rig.text(), u"uno\r\ntwo\r\nab\r\ncd"_s);

    QTest::keyClick(&rig.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rig.text(), u"one\r\ntwo\r\nab\r\ncd"_s);
    QCOMPARE(rig.view.textCursor().position(), 3); // where the change was
    QTest::keyClick(&rig.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rig.text(), u"one\r\ntwo\r\nab"_s);
    QTest::keyClick(&rig.view, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(rig.text(), u"one\r\ntwo\r\n"_s);
    QVERIFY(!rig.h.text->canUndo());
    const auto menuOffers = [&rig] {
        std::unique_ptr<QMenu> menu(rig.view.createEditMenu());
        return std::pair{menu->actions().value(0)->isEnabled(), menu->actions().value(1)->isEnabled()};
    };
    QCOMPARE(menuOffers(), std::pair(false, true)); // the menu's Undo and Redo follow the history
    QTest::keyClick(&rig.view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(rig.text(), u"one\r\ntwo\r\nab"_s);
    QCOMPARE(menuOffers(), std::pair(true, true));
    QCOMPARE(rig.view.rawText(), editorForm(rig.text()));
    // A new edit ends what redo could bring back.
    QTest::keyClick(&rig.view, 'x');
    QVERIFY(!rig.h.text->canRedo());
}

void TestEditor::scrollFractionReachesThePreview()
{
    QByteArray lines;
    for (int i = 0; i < 200; ++i)
        lines += "line\n";
    EditorRig rig(lines);
    rig.h.model->setMode(DocumentModel::Mode::Split);
    QScrollBar *bar = rig.view.verticalScrollBar();
    bar->setValue(bar->maximum());
    bar->setValue(bar->maximum() / 2);
    bar->setValue(0);
    const auto &fractions = rig.previews.calls.fractions;
    QCOMPARE(fractions.size(), 3);
    QCOMPARE(fractions[0], 1.0);
    QVERIFY(qAbs(fractions[1] - 0.5) < 0.01);
    QCOMPARE(fractions[2], 0.0);
    QCOMPARE(rig.controller->scrollFraction(), 0.0);
    // The caret moved by keys takes the view along without the scroll bar's signal.
    rig.view.resize(300, 200);
    rig.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
    QTest::keyClick(&rig.view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(fractions.size(), 4);
    QVERIFY2(fractions.last() > 0.95, qPrintable(QString::number(fractions.last())));
    QTest::keyClick(&rig.view, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(fractions.last(), 0.0);
}

void TestEditor::wrapSelectionUndoesInOneStep()
{
    EditorRig rig("a word here");
    QTextCursor cursor = rig.view.textCursor();
    cursor.setPosition(2);
    cursor.setPosition(6, QTextCursor::KeepAnchor);
    rig.view.setTextCursor(cursor);
    rig.view.wrapSelection(u"**"_s, u"**"_s);
    QCOMPARE(rig.text(), u"a **word** here"_s);
    QCOMPARE(rig.view.textCursor().selectedText(), u"word"_s);
    rig.controller->undo();
    QCOMPARE(rig.text(), u"a word here"_s);
    QVERIFY(!rig.h.text->canUndo());
}

// Ctrl+Shift+Right selects a word with the space after it. Markers around that space, as in
// "**word **", are no emphasis at all, and the asterisks would show as written.
void TestEditor::wrapSelectionLeavesSpacesAtItsEdgesOutside_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("wrapped");
    QTest::addColumn<QString>("selected");
    QTest::newRow("space after") << u"a word here"_s << 2 << 7 << u"a **word** here"_s << u"word"_s;
    QTest::newRow("space before") << u"a word here"_s << 1 << 6 << u"a **word** here"_s << u"word"_s;
    QTest::newRow("line break after") << u"a word\nnext"_s << 2 << 7 << u"a **word**\nnext"_s << u"word"_s;
    QTest::newRow("tab and spaces around") << u"a\t two  b"_s << 1 << 8 << u"a\t **two**  b"_s << u"two"_s;
    QTest::newRow("no space") << u"a word here"_s << 2 << 6 << u"a **word** here"_s << u"word"_s;
}

void TestEditor::wrapSelectionLeavesSpacesAtItsEdgesOutside()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(QString, wrapped);
    QFETCH(QString, selected);
    EditorRig rig(text.toUtf8());
    QTextCursor cursor = rig.view.textCursor();
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
    rig.view.setTextCursor(cursor);
    rig.view.wrapSelection(u"**"_s, u"**"_s);
    QCOMPARE(rig.text(), wrapped);
    QCOMPARE(rig.view.textCursor().selectedText(), selected);
}

void TestEditor::contextMenuOffersAddLinkForASelection()
{
    EditorRig rig("a word here");
    for (const bool selected : {false, true}) {
        QTextCursor cursor = rig.view.textCursor();
        cursor.setPosition(2);
        if (selected)
            cursor.setPosition(6, QTextCursor::KeepAnchor);
        rig.view.setTextCursor(cursor);
        std::unique_ptr<QMenu> menu(rig.view.createEditMenu());
        QAction *link = nullptr;
        for (QAction *action : menu->actions())
            link = action->text().startsWith(u"Add &Link"_s) ? action : link;
        QCOMPARE(link != nullptr, selected);
        if (!link)
            continue;
        QCOMPARE(link->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
        QSignalSpy asked(&rig.view, &MarkdownTextView::linkRequested);
        link->trigger();
        QCOMPARE(asked.count(), 1);
    }
}

// Spelling on the system's dictionary: the words marked in a line of Markdown, "|"-separated.
void TestEditor::misspeltWordsAreFoundInProseOnly_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("marked");
    QTest::newRow("prose") << u"Teh quick brwn fox"_s << u"Teh|brwn"_s;
    QTest::newRow("apostrophes") << u"It\u2019s what we don't knoww"_s << u"knoww"_s;
    QTest::newRow("code-span") << u"Call `fooz barr` now"_s << QString();
    QTest::newRow("link-target") << u"See [the docz](https://exmaple.org/pgae) here"_s << u"docz"_s;
    QTest::newRow("wikilink-target") << u"Read [[Meetng notes|the notez]]"_s << u"notez"_s;
    QTest::newRow("html-and-address") << u"<span clas=\"x\">fine</span> www.exmaple.org"_s << QString();
    QTest::newRow("math-and-names") << u"Let $xyzzy$ be v2beta or snake_cse"_s << QString();
}

void TestEditor::misspeltWordsAreFoundInProseOnly()
{
    QFETCH(QString, line);
    QFETCH(QString, marked);
    QTemporaryDir dir;
    const auto checker = SpellChecker::load(u"en_US"_s, dir.filePath(u"words.txt"_s));
    QVERIFY2(checker, "the en_US dictionary is installed by scripts/setup");
    QStringList found;
    for (const auto &[start, length] : checker->misspelt(line))
        found.append(line.mid(start, length));
    QCOMPARE(found.join(u'|'), marked);
}

void TestEditor::wordsAddedOrIgnoredAreNoLongerMarked()
{
    QTemporaryDir dir;
    const QString words = dir.filePath(u"config/words.txt"_s);
    auto checker = SpellChecker::load(u"en_US"_s, words);
    QVERIFY(checker);
    QVERIFY(!checker->isCorrect(u"Quorvelish"_s));
    QCOMPARE(checker->guesses(u"teh"_s).value(0), u"the"_s);
    QVERIFY(checker->addToDictionary(u"Quorvelish"_s));
    checker->ignore(u"zzyzx"_s);
    QVERIFY(checker->isCorrect(u"Quorvelish"_s) && checker->isCorrect(u"zzyzx"_s));
    QCOMPARE(ScratchEnvironment::read(words), QByteArray("Quorvelish\n"));
    QVERIFY(!checker->addToDictionary(u"two\nlines"_s));
    // Another window, or the next start: the added word stays, the ignored one does not.
    checker = SpellChecker::load(u"en_US"_s, words);
    QVERIFY(checker->isCorrect(u"Quorvelish"_s));
    QVERIFY(!checker->isCorrect(u"zzyzx"_s));
}

void TestEditor::aNoteChoosesItsLanguageInItsFrontMatter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("language");
    QTest::newRow("none") << u"# Notes\n"_s << u"en_US"_s;
    QTest::newRow("exact") << u"---\nlang: de_DE\n---\nText\n"_s << u"de_DE"_s;
    QTest::newRow("tag-quoted") << u"---\ntitle: x\nlang: \"de-DE\"\n---\n"_s << u"de_DE"_s;
    QTest::newRow("language-only") << u"---\nlanguage: de\n---\n"_s << u"de_DE"_s;
    QTest::newRow("crlf") << u"---\r\nlang: de\r\n---\r\n"_s << u"de_DE"_s;
    QTest::newRow("not-installed") << u"---\nlang: fr\n---\n"_s << u"en_US"_s;
    QTest::newRow("after-the-front-matter") << u"---\ntitle: x\n---\nlang: de\n"_s << u"en_US"_s;
    QTest::newRow("not-at-the-top") << u"\n---\nlang: de\n---\n"_s << u"en_US"_s;
    QTest::newRow("unclosed") << u"---\nlang: de"_s << u"de_DE"_s;
}

void TestEditor::aNoteChoosesItsLanguageInItsFrontMatter()
{
    QFETCH(QString, text);
    QFETCH(QString, language);
    QTemporaryDir dir;
    for (const char *name : {"en_US.aff", "en_US.dic", "de_DE.aff", "de_DE.dic"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    quorvel::themes::SettingsStore store(dir.filePath(u"settings.conf"_s));
    quorvel::themes::Appearance appearance(store);
    appearance.setSpellingLanguage(u"en_US"_s);
    const quorvel::app::Spelling spelling(appearance, dir.filePath(u"words.txt"_s), {dir.path()});
    QCOMPARE(spelling.languageOf(text), language);
}

void TestEditor::misspeltWordsAreMarkedAndAGuessIsOneEdit()
{
    QTemporaryDir dir;
    const auto checker = SpellChecker::load(u"en_US"_s, dir.filePath(u"words.txt"_s));
    QVERIFY(checker);
    EditorRig rig("A teh cat.\n```\nfencd code\n```\nAn `inlne` span.\n");
    rig.view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.view));
    rig.view.setSpellChecker(checker.get());
    rig.view.checkSpelling();
    QStringList marked;
    for (const auto &mark : rig.view.spellingMarks())
        marked.append(mark.cursor.selectedText());
    QCOMPARE(marked, QStringList{u"teh"_s});
    std::unique_ptr<QMenu> menu(rig.view.createEditMenu(3));
    // The guesses come first, as the dictionary ranks them.
    const QStringList guesses = checker->guesses(u"teh"_s);
    QVERIFY(guesses.contains(u"the"_s));
    QAction *the = menu->actions().value(int(guesses.indexOf(u"the"_s)));
    QVERIFY(the && the->text() == u"the"_s);
    QCOMPARE(menu->activeAction(), menu->actions().value(0));
    the->trigger();
    QCOMPARE(rig.text(), u"A the cat.\n```\nfencd code\n```\nAn `inlne` span.\n"_s);
    QCOMPARE(rig.edits, (QList<TextEdit>{{3, 2, u"he"_s}})); // what differs in that word, once
    rig.controller->undo();
    QCOMPARE(rig.text().mid(2, 3), u"teh"_s);
    // Nothing misspelt under the pointer: the usual menu only.
    menu.reset(rig.view.createEditMenu(8));
    QCOMPARE(menu->actions().value(0)->text(), u"&Undo"_s);
}

// A block command acts on whole lines, wherever the caret is in them: the marker goes at the
// line's start, a marker of its family is replaced, and the same command again takes it away.
void TestEditor::blockCommandsChangeOnlyTheMarkers_data()
{
    QTest::addColumn<QByteArray>("note");
    QTest::addColumn<int>("from"); // the selection, as offsets into the note
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("expected");
    const int heading = int(BlockKind::Heading), quote = int(BlockKind::Quote),
              bullet = int(BlockKind::Bullet), numbered = int(BlockKind::Numbered),
              task = int(BlockKind::Task), paragraph = int(BlockKind::Paragraph);
    const QByteArray two = "First line\r\nSecond line\r\n";
    QTest::newRow("heading-with-the-caret-mid-word") << two << 3 << 3 << heading << 2
                                                     << QByteArray("## First line\r\nSecond line\r\n");
    QTest::newRow("heading-level-replaced") << QByteArray("### Title\n") << 5 << 5 << heading << 1
                                            << QByteArray("# Title\n");
    QTest::newRow("same-heading-toggles-off") << QByteArray("## Title\n") << 0 << 0 << heading << 2
                                              << QByteArray("Title\n");
    QTest::newRow("paragraph-drops-any-marker") << QByteArray("> - [x] Done\n") << 4 << 4 << paragraph
                                                << 0 << QByteArray("Done\n");
    QTest::newRow("quote-every-selected-line") << two << 2 << 15 << quote << 0
                                               << QByteArray("> First line\r\n> Second line\r\n");
    QTest::newRow("quote-keeps-the-heading-inside") << QByteArray("> ## Title\n") << 6 << 6 << quote
                                                    << 0 << QByteArray("## Title\n");
    QTest::newRow("numbered-over-a-blank-line") << QByteArray("a\n\nb\n") << 0 << 4 << numbered << 0
                                                << QByteArray("1. a\n\n2. b\n");
    QTest::newRow("bullet-replaces-numbers") << QByteArray("1. a\n2) b\n") << 0 << 8 << bullet << 0
                                             << QByteArray("- a\n- b\n");
    QTest::newRow("task-keeps-the-bullet") << QByteArray("* a\n") << 2 << 2 << task << 0
                                           << QByteArray("* [ ] a\n");
    QTest::newRow("same-task-toggles-off") << QByteArray("- [ ] a\n") << 6 << 6 << task << 0
                                           << QByteArray("a\n");
    QTest::newRow("selection-ending-at-a-line-start") << two << 0 << 11 << bullet << 0
                                                      << QByteArray("- First line\r\nSecond line\r\n");
    QTest::newRow("empty-line-takes-the-marker") << QByteArray("a\n\nb\n") << 2 << 2 << heading << 3
                                                 << QByteArray("a\n### \nb\n");
    // A line shown in pieces is still one line, wherever in it the caret is.
    const QByteArray longLine = QByteArray("word ").repeated(1800);
    QTest::newRow("long-line-from-its-third-piece")
        << "intro\n" + longLine + "\n" << 6006 << 6006 << heading << 1
        << "intro\n# " + longLine + "\n";
    QTest::newRow("long-line-and-the-next") << "intro\n" + longLine + "\nnext\n" << 3000 << 9008
                                            << quote << 0 << "intro\n> " + longLine + "\n> next\n";
}

void TestEditor::blockCommandsChangeOnlyTheMarkers()
{
    QFETCH(QByteArray, note);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, kind);
    QFETCH(int, level);
    QFETCH(QByteArray, expected);
    EditorRig rig(note);
    // The editor shows "\n" for every line break; offsets are counted in what it shows, less
    // the breaks between a long line's pieces.
    QTextCursor cursor = rig.view.textCursor();
    cursor.setPosition(int(rig.view.withSoftBreaks(from)));
    cursor.setPosition(int(rig.view.withSoftBreaks(to)), QTextCursor::KeepAnchor);
    rig.view.setTextCursor(cursor);
    rig.view.formatLines({BlockKind(kind), level});
    rig.h.scratch.clock.advance(1s);
    QCOMPARE(rig.h.onDisk(), expected);
    rig.controller->undo();
    QCOMPARE(rig.text().toUtf8(), note);
}

void TestEditor::editKeepsUntouchedLineBreaks_data()
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
    // The widget keeps a U+2028 inside its line, as the file has it.
    QTest::newRow("unicode-line-separator") << QString("a") + QChar(0x2028) + "b"
                                            << QString("a") + QChar(0x2028) + "b"
                                            << QString("a") + QChar(0x2028) + "bc"
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

void TestEditor::editKeepsUntouchedLineBreaks()
{
    QFETCH(QString, file);
    QFETCH(QString, typedFrom);
    QFETCH(QString, typedTo);
    QFETCH(QString, expected);
    EditorRig rig(file.toUtf8());
    QCOMPARE(rig.view.rawText(), typedFrom);
    const TextEdit typed = TextEdit::between(typedFrom, typedTo);
    QTextCursor cursor(rig.view.document());
    cursor.setPosition(int(typed.start));
    cursor.setPosition(int(typed.end()), QTextCursor::KeepAnchor);
    cursor.insertText(typed.inserted);
    QCOMPARE(rig.text(), expected);
    QCOMPARE(editorForm(rig.text()), typedTo);
}

void TestEditor::charactersPassUnchanged_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("typedAtEnd");
    QTest::addColumn<QString>("saved");
    QTest::newRow("nbsp") << u"a\u00A0b\n"_s << u"c\u00A0"_s << u"a\u00A0b\nc\u00A0"_s;
    QTest::newRow("line-separator-in-file") << u"a\u2028b"_s << u"c"_s << u"a\u2028bc"_s;
    QTest::newRow("line-separator-typed") << u"a\n"_s << u"b\u2028c"_s << u"a\nb\u2028c"_s;
    QTest::newRow("tab") << u"\ta\n"_s << u"\tb"_s << u"\ta\n\tb"_s;
    QTest::newRow("lone-cr") << u"a\rb\r"_s << u"c\nd"_s << u"a\rb\rc\rd"_s;
    QTest::newRow("crlf") << u"a\r\nb\r\n"_s << u"c\nd"_s << u"a\r\nb\r\nc\r\nd"_s;
    QTest::newRow("paragraph-separator") << u"a\u2029b"_s << u"c"_s << u"a\u2029bc"_s;
}

void TestEditor::charactersPassUnchanged()
{
    QFETCH(QString, file);
    QFETCH(QString, typedAtEnd);
    QFETCH(QString, saved);
    EditorRig rig(file.toUtf8());
    QCOMPARE(rig.text(), file);
    rig.view.moveCursor(QTextCursor::End);
    rig.view.insertPlainText(typedAtEnd);
    QCOMPARE(rig.text(), saved);
    // And typed in the middle, one key at a time, with everything else kept.
    rig.view.moveCursor(QTextCursor::Start);
    QTest::keyClick(&rig.view, 'z');
    QCOMPARE(rig.text(), u'z' + saved);
}

void TestEditor::editsReachTheModelExactly_data()
{
    // Each edit is followed span by span; the model must end with exactly what is shown.
    QTest::addColumn<int>("edit");
    QTest::newRow("type") << 0;
    QTest::newRow("backspace-joins-lines") << 1;
    QTest::newRow("replace-selection-across-lines") << 2;
    QTest::newRow("paste-lines") << 3;
    QTest::newRow("undo-redo") << 4;
    QTest::newRow("delete-everything") << 5;
}

void TestEditor::editsReachTheModelExactly()
{
    QFETCH(int, edit);
    EditorRig rig("# One\n\ntwo\u00A0words\nthree\n");
    QTextCursor cursor = rig.view.textCursor();
    cursor.setPosition(7);
    rig.view.setTextCursor(cursor);
    switch (edit) {
    case 0:
        QTest::keyClicks(&rig.view, u"abc"_s);
        break;
    case 1:
        QTest::keyClick(&rig.view, Qt::Key_Backspace);
        QTest::keyClick(&rig.view, Qt::Key_Backspace);
        break;
    case 2:
        cursor.setPosition(3);
        cursor.setPosition(12, QTextCursor::KeepAnchor);
        rig.view.setTextCursor(cursor);
        QTest::keyClick(&rig.view, 'Q');
        break;
    case 3:
        QGuiApplication::clipboard()->setText(u"p\nq\n"_s);
        rig.view.paste();
        break;
    case 4:
        QTest::keyClicks(&rig.view, u"ab"_s);
        QTest::keyClick(&rig.view, Qt::Key_Return);
        rig.controller->undo();
        rig.controller->redo();
        rig.controller->undo();
        break;
    case 5:
        rig.view.selectAll();
        QTest::keyClick(&rig.view, Qt::Key_Delete);
        QTest::keyClick(&rig.view, 'n');
        break;
    }
    QCOMPARE(rig.text(), rig.view.rawText());
}

void TestEditor::largeTextIsNotColoured()
{
    MarkdownTextView view;
    view.updateHighlighting(10);
    QVERIFY(view.isHighlighting());
    view.updateHighlighting(MarkdownHighlighter::kMaxCharacters + 1);
    QVERIFY(!view.isHighlighting());
    view.updateHighlighting(10);
    QVERIFY(view.isHighlighting());
}

void TestEditor::longTextIsFilledInFromTheEventLoop_data()
{
    // What happens while the text goes in, and the text it makes: nothing typed is dropped.
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QString>("before");
    QTest::newRow("nothing") << u""_s << u""_s;
    QTest::newRow("typed") << u"key"_s << u"x"_s;
    QTest::newRow("wrapped") << u"wrap"_s << u"****"_s;
    QTest::newRow("pasted") << u"paste"_s << u"pasted "_s;
    QTest::newRow("reloaded") << u"reload"_s << u""_s;
}

void TestEditor::longTextIsFilledInFromTheEventLoop()
{
    QFETCH(QString, meanwhile);
    QFETCH(QString, before);
    // A character pair across the first slice's end, a line longer than a slice, every kind of
    // line break.
    const QString file = QString(EditorController::kSliceCharacters - 1, u'w') + u"\U0001F600"_s
        + u" one line\u2029two\r\n"_s
        + u"a line\r\n"_s.repeated(EditorController::kFillInSlicesFrom / 8) + u"end"_s;
    EditorRig rig(file.toUtf8());
    QVERIFY(!rig.controller->isFilled());
    QVERIFY(rig.view.isReadOnly());
    QString shown = before + file;
    if (meanwhile == u"key") {
        QTest::keyClick(&rig.view, 'x');
    } else if (meanwhile == u"wrap") {
        rig.view.wrapSelection(u"**"_s, u"**"_s);
    } else if (meanwhile == u"paste") {
        QGuiApplication::clipboard()->setText(before);
        rig.view.paste();
    } else if (meanwhile == u"reload") {
        rig.reload("from disk\n");
        shown = u"from disk\n"_s;
    }
    // An edit takes the rest at once, so that it lands where it was made.
    if (!before.isEmpty())
        QVERIFY(rig.controller->isFilled());
    QTRY_VERIFY(rig.controller->isFilled());
    QVERIFY(!rig.view.isReadOnly());
    QCOMPARE(rig.text(), shown);
    QCOMPARE(rig.view.rawText(), editorForm(shown));
    QCOMPARE(rig.h.text->canUndo(), !meanwhile.isEmpty());
    rig.view.moveCursor(QTextCursor::End);
    QTest::keyClick(&rig.view, 'x');
    QCOMPARE(rig.text(), shown + u'x');
}

void TestEditor::marksAreColouredBlockByBlock_data()
{
    // The text, and in its last line the characters that are coloured and those set in bold
    // ("B:") or italics ("I:").
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("coloured");
    QTest::addColumn<QString>("styled");
    QTest::newRow("plain") << u"just words"_s << u""_s << u""_s;
    QTest::newRow("heading") << u"## Title"_s << u"##"_s << u"B: Title"_s;
    QTest::newRow("not-a-heading") << u"#hashtag"_s << u""_s << u""_s;
    QTest::newRow("inside-a-fence") << u"```\nplain *x*"_s << u"plain *x*"_s << u""_s;
    QTest::newRow("after-a-fence") << u"```\ncode\n```\nplain"_s << u""_s << u""_s;
    QTest::newRow("front-matter") << u"---\ntitle: x"_s << u"title: x"_s << u""_s;
    QTest::newRow("rule-later-is-no-front-matter") << u"a\n---\ntitle: x"_s << u""_s << u""_s;
    QTest::newRow("inline-code") << u"a `b` c"_s << u"`b`"_s << u""_s;
    QTest::newRow("link") << u"see [x](y)."_s << u"[x](y)"_s << u""_s;
    QTest::newRow("list-marker") << u"- item"_s << u"- "_s << u""_s;
    QTest::newRow("quote-marker") << u"> said"_s << u"> "_s << u""_s;
    QTest::newRow("strong-and-emphasis") << u"**a** *b* __c__ _d_"_s << u""_s
                                         << u"B:**a** I:*b* B:__c__ I:_d_"_s;
}

void TestEditor::marksAreColouredBlockByBlock()
{
    QFETCH(QString, text);
    QFETCH(QString, coloured);
    QFETCH(QString, styled);
    MarkdownTextView view;
    QPalette palette = view.palette();
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    view.setPalette(palette);
    view.setPlainText(text);
    view.updateHighlighting(text.size());
    const QTextBlock last = view.document()->lastBlock();
    QString found;
    QStringList shapes;
    for (const QTextLayout::FormatRange &range : last.layout()->formats()) {
        const QString part = last.text().mid(range.start, range.length);
        if (range.format.hasProperty(QTextFormat::ForegroundBrush)
            && range.format.foreground().color() != Qt::black)
            found += part;
        if (range.format.fontWeight() >= QFont::Bold)
            shapes << u"B:"_s + part;
        if (range.format.fontItalic())
            shapes << u"I:"_s + part;
    }
    QCOMPARE(found, coloured);
    QCOMPARE(shapes.join(u' '), styled);
}

void TestEditor::outlineEntriesFindTheirLine_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line"); // -1: not found
    QTest::newRow("atx") << 2 << u"Two"_s << 4;
    QTest::newRow("not-a-deeper-level") << 3 << u"Two"_s << 6;
    QTest::newRow("marks-looked-past") << 1 << u"See docs now"_s << 8;
    QTest::newRow("setext") << 1 << u"Under"_s << 10;
    QTest::newRow("code-line-is-no-heading") << 1 << u"fake"_s << -1;
}

void TestEditor::outlineEntriesFindTheirLine()
{
    QFETCH(int, level);
    QFETCH(QString, text);
    QFETCH(int, line);
    MarkdownTextView view;
    view.setPlainText(u"# One\n\n    # fake\n\n## Two\n\n### Two\n\n# See [docs](x) *now* #\n\nUnder\n====\n"_s);
    QCOMPARE(view.scrollToHeading(level, text), line >= 0);
    if (line >= 0)
        QCOMPARE(view.textCursor().blockNumber(), line);
}

void TestEditor::longLinesAreCutBeforeAWord_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("beforeAWord"); // else only never inside a pair
    QTest::newRow("marks-among-words") << u"a - b # c > d ``` e 1. "_s.repeated(1000) << true;
    QTest::newRow("no-words") << u"- # > "_s.repeated(2000) << false;
    QTest::newRow("no-spaces") << u"x"_s + u"\U0001F600"_s.repeated(5000) << false;
}

// A piece is coloured as a line of its own: it starts with a word where there is one near.
void TestEditor::longLinesAreCutBeforeAWord()
{
    QFETCH(QString, line);
    QFETCH(bool, beforeAWord);
    const QList<qsizetype> cuts = pieceCuts(line, 4000, 2000);
    QVERIFY(!cuts.isEmpty());
    qsizetype from = 0;
    for (const qsizetype cut : cuts) {
        QVERIFY(cut > from && cut - from <= 4000);
        QVERIFY(!line[cut].isLowSurrogate());
        QVERIFY(!beforeAWord || (line[cut - 1] == u' ' && line[cut].isLetter()));
        from = cut;
    }
    QVERIFY(line.size() - from <= 4000);
}

void TestEditor::longLinesShownInPiecesKeepTheText_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("seed");
    const auto words = [](const QString &word, qsizetype size) {
        QString line;
        while (line.size() < size)
            line += word;
        return line;
    };
    const QString lf = u"# Title\n\n"_s + words(u"some words here "_s, 9000) + u"\n\nshort\n"_s
        + words(u"more, "_s, 12000) + u"\n"_s;
    QTest::newRow("lf") << lf << 1;
    QTest::newRow("crlf") << QString(lf).replace(u"\n"_s, u"\r\n"_s) << 2;
    QTest::newRow("bom") << u'\uFEFF' + lf << 3;
    QTest::newRow("non-ascii") << words(u"caf\u00E9 \u4E2D\u6587 \U0001F600 "_s, 11000) + u"\nend"_s << 4;
    // No space to cut after, and a character pair across every place a cut would fall.
    QTest::newRow("no-spaces") << u"a"_s + words(u"\U0001F600"_s, 10000) + u"\r\nz"_s << 5;
}

// Random edits of every kind on long lines, each also made on a plain string: the text must
// stay exactly what the plain string gives, and the widget must show it.
void TestEditor::longLinesShownInPiecesKeepTheText()
{
    QFETCH(QString, file);
    QFETCH(int, seed);
    EditorRig rig(file.toUtf8());
    MarkdownTextView &view = rig.view;
    QCOMPARE(rig.text(), file);
    QVERIFY(!view.softBreaks().empty());
    QString expected = file;
    QString form = editorForm(file);
    QRandomGenerator random(seed);
    // The same edit on the plain string, in the editor's positions (a "\r\n" is one there).
    const auto edit = [&](qsizetype from, qsizetype to, const QString &inserted) {
        const auto offset = [&](qsizetype at) {
            qsizetype i = 0;
            for (qsizetype seen = 0; seen < at; ++seen)
                i += expected.mid(i, 2) == u"\r\n"_s ? 2 : 1;
            return i;
        };
        const qsizetype start = offset(from);
        const qsizetype end = offset(to);
        // New lines get the file's own line break.
        const QString lineBreak = quorvel::core::dominantLineBreak(expected);
        expected.replace(start, end - start, QString(inserted).replace(u"\n"_s, lineBreak));
        form.replace(from, to - from, inserted);
    };
    // The character before or after a position, a pair counted as one.
    const auto before = [&](qsizetype at) { return at >= 2 && form[at - 1].isLowSurrogate() ? 2 : 1; };
    const auto after = [&](qsizetype at) {
        return at + 1 < form.size() && form[at].isHighSurrogate() ? 2 : 1;
    };
    const auto select = [&](qsizetype from, qsizetype to, bool afterBreak) {
        QTextCursor cursor(view.document());
        cursor.setPosition(int(view.withSoftBreaks(from, afterBreak)));
        cursor.setPosition(int(view.withSoftBreaks(to, afterBreak && to == from)),
                           QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
    };
    QStringList undone;
    for (int step = 0; step < 160; ++step) {
        const auto &soft = view.softBreaks();
        const qsizetype piece = soft.empty() ? -1 : view.withoutSoftBreaks(soft[random.bounded(int(soft.size()))]);
        // A span between characters, never inside a pair.
        const auto between = [&](qsizetype at) { return at > 0 && at < form.size() && form[at].isLowSurrogate() ? at - 1 : at; };
        const qsizetype a = between(random.bounded(int(form.size()) + 1));
        const qsizetype b = between(a + random.bounded(int(std::min<qsizetype>(form.size() - a, 5000)) + 1));
        const bool coin = random.bounded(2);
        switch (random.bounded(9)) {
        case 0:
            select(a, a, coin);
            QTest::keyClick(&view, Qt::Key_Q);
            edit(a, a, u"q"_s);
            break;
        case 1: {
            // Backspace and Delete anywhere, and at the start or end of a piece, where they take
            // the real character beside the break.
            const qsizetype at = piece >= 0 && coin ? piece : a;
            const bool back = random.bounded(2);
            select(at, at, back);
            QTest::keyClick(&view, back ? Qt::Key_Backspace : Qt::Key_Delete);
            if (back && at > 0)
                edit(at - before(at), at, {});
            else if (!back && at < form.size())
                edit(at, at + after(at), {});
            break;
        }
        case 2: {
            const QString pasted = coin ? u"x\ny \U0001F600\n"_s : u"one two "_s.repeated(400);
            QGuiApplication::clipboard()->setText(pasted);
            select(a, b, true);
            view.paste();
            edit(a, b, pasted);
            break;
        }
        case 3:
            select(a, b, true);
            QTest::keyClick(&view, coin ? Qt::Key_Return : Qt::Key_Z);
            edit(a, b, coin ? u"\n"_s : u"z"_s);
            break;
        case 4:
            if (b > a) {
                select(a, b, true);
                view.copy();
                QCOMPARE(QGuiApplication::clipboard()->text(), form.mid(a, b - a));
            }
            continue;
        case 5:
            if (rig.h.text->canUndo()) {
                undone.append(rig.text());
                rig.controller->undo();
                expected = rig.text();
                form = editorForm(expected);
            }
            break;
        case 6:
            if (!undone.isEmpty()) {
                rig.controller->redo();
                QCOMPARE(rig.text(), undone.takeLast());
                expected = rig.text();
                form = editorForm(expected);
            }
            break;
        case 7: {
            // Another view's edit, in the text's own offsets.
            const QString inserted = coin ? u"long "_s.repeated(900) : u"\n"_s;
            const QString before = expected;
            edit(a, a, inserted);
            rig.h.text->apply(TextEdit::between(before, expected), EditOrigin::Program);
            break;
        }
        case 8: {
            // Two edits in one, at either end of a selection across pieces, inside the spaces
            // at its edges.
            select(a, b, true);
            view.wrapSelection(u"**"_s, u"_"_s);
            qsizetype from = a;
            qsizetype to = b;
            while (from < to && form[from].isSpace())
                ++from;
            while (to > from && form[to - 1].isSpace())
                --to;
            if (from == to)
                std::tie(from, to) = std::pair(a, b);
            edit(to, to, u"_"_s);
            edit(from, from, u"**"_s);
            break;
        }
        }
        if (rig.text() != expected || !rig.h.text->canRedo())
            undone.clear();
        QCOMPARE(rig.text(), expected);
        QCOMPARE(view.rawText(), form);
        for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next())
            QVERIFY(block.length() - 1 <= EditorController::kMaxPieceCharacters);
    }
    QVERIFY(rig.h.document->saveDocument());
    QCOMPARE(rig.h.onDisk(), expected.toUtf8());
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
