// The File menu's commands on real files in scratch folders: Save As, Rename and Move To with a
// vault's links, Open Recent, making a missing note, and Quit. Dialogs are answered as a user
// would, in the order they come up.

#include "menusupport.h"
#include "testsupport.h"

#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "app/filecommands.h"
#include "core/documenttext.h"
#include "core/documentviews.h"
#include "vault/vaultindex.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStringDecoder>
#include <QTest>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::DocumentController;
using app::DocumentWindow;
using Mode = core::DocumentModel::Mode;

namespace {

// Answers modal dialogs in turn as each comes up; records what each message box said.
class Answers : public QObject
{
public:
    using Answer = std::function<void(QWidget *)>;
    explicit Answers(QList<Answer> answers) : m_answers(std::move(answers))
    {
        m_poll.setInterval(5);
        connect(&m_poll, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || modal == m_last)
                return;
            m_last = modal;
            if (auto *box = qobject_cast<QMessageBox *>(modal))
                said << box->text() + u" | " + box->informativeText();
            // One more than expected is recorded and closed, never left waiting for a person.
            if (m_answers.isEmpty())
                QMetaObject::invokeMethod(modal, "reject");
            else
                m_answers.takeFirst()(modal);
        });
        m_poll.start();
    }
    bool allGiven() const { return m_answers.isEmpty(); }
    QStringList said;

    static Answer button(QMessageBox::StandardButton which)
    {
        return [which](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            box->button(which)->click();
        };
    }
    static Answer text(const QString &value)
    {
        return [value](QWidget *modal) {
            auto *dialog = qobject_cast<QInputDialog *>(modal);
            QVERIFY(dialog);
            dialog->setTextValue(value);
            dialog->accept();
        };
    }
    static Answer file(const QString &path)
    {
        return [path](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            dialog->selectFile(path);
            static_cast<QDialog *>(dialog)->accept();
        };
    }

private:
    QList<Answer> m_answers;
    QPointer<QWidget> m_last;
    QTimer m_poll;
};

} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void fileMenuHasItsCommandsInOrder();
    void saveAsKeepsTheBytesAndTheWindowFollows_data();
    void saveAsKeepsTheBytesAndTheWindowFollows();
    void relocatingUpdatesTheVaultsLinksOnlyAfterAYes_data();
    void relocatingUpdatesTheVaultsLinksOnlyAfterAYes();
    void aRelocatedNoteKeepsItsOwnLinks_data();
    void aRelocatedNoteKeepsItsOwnLinks();
    void recentFilesShowWhatIsGone();
    void aMissingNoteIsMadeWhereTheLinkLooks_data();
    void aMissingNoteIsMadeWhereTheLinkLooks();
    void quitCancelledAtAnyWindowKeepsThemAll_data();
    void quitCancelledAtAnyWindowKeepsThemAll();

private:
    QString put(const QString &name, const QByteArray &bytes);
    std::unique_ptr<ScratchEnvironment> m_scratch;
};

void TestFiles::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    DocumentController::shared().setAlertsEnabled(false);
    DocumentController::shared().setModelEnvironment(m_scratch->env());
    core::DocumentModel::setWorkspace(
        {[](const QString &path) { DocumentController::shared().openDocument(path); }, {}});
}

void TestFiles::cleanup()
{
    for (auto *window : DocumentController::shared().windows()) {
        window->document().updateChangeCount(core::DocumentFile::Change::Cleared);
        delete window;
    }
    core::DocumentModel::setWorkspace({});
    m_scratch.reset();
}

QString TestFiles::put(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(m_scratch->path(name)).absolutePath());
    return m_scratch->write(name, bytes);
}

void TestFiles::fileMenuHasItsCommandsInOrder()
{
    DocumentWindow *window = DocumentController::shared().openDocument(put(u"a.md"_s, "a\n"));
    QStringList labels;
    for (QAction *action : topMenu(window, u"File"_s)->actions())
        labels << (action->isSeparator() ? u"|"_s : action->text().remove(u'&'));
    QCOMPARE(labels, (QStringList{u"New"_s, u"Open\u2026"_s, u"Open Recent"_s, u"Quick Open\u2026"_s,
                                  u"|"_s, u"Save"_s, u"Save As\u2026"_s, u"Rename\u2026"_s, u"Move To\u2026"_s,
                                  u"Revert to Saved"_s, u"Reload from Disk"_s, u"|"_s, u"Export"_s,
                                  u"Print\u2026"_s, u"|"_s, u"Close"_s, u"Quit"_s}));
    QCOMPARE(menuItem(window, u"File"_s, u"Save As\u2026"_s)->shortcut(),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    // Nothing to go back to until there are changes; nothing to rename without a file.
    QAction *revert = menuItem(window, u"File"_s, u"Revert to Saved"_s);
    QVERIFY(!revert->isEnabled());
    window->model().setMode(Mode::Source);
    QTest::keyClicks(window->sourceEditor(), u"x"_s);
    QVERIFY(revert->isEnabled());
    Answers answers({Answers::button(QMessageBox::Yes)});
    revert->trigger();
    QVERIFY(answers.allGiven());
    QCOMPARE(window->text().text(), u"a\n"_s);
    QVERIFY(!revert->isEnabled());
    DocumentWindow *untitled = DocumentController::shared().newDocument();
    QVERIFY(!menuItem(untitled, u"File"_s, u"Rename\u2026"_s)->isEnabled());
    QVERIFY(!menuItem(untitled, u"File"_s, u"Move To\u2026"_s)->isEnabled());
    QVERIFY(menuItem(untitled, u"File"_s, u"Save As\u2026"_s)->isEnabled());
}

void TestFiles::saveAsKeepsTheBytesAndTheWindowFollows_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("typed"); // Return and "é", as the file's encoding writes them
    QTest::newRow("utf8-lf") << QByteArray("# Caf\xc3\xa9\nend") << QByteArray("\n\xc3\xa9");
    QTest::newRow("latin1-crlf") << QByteArray("# Caf\xe9\r\nend") << QByteArray("\r\n\xe9");
    QTest::newRow("utf16le-crlf") << QByteArray("\xff\xfe#\0 \0C\0a\0f\0\xe9\0\r\0\n\0e\0n\0d\0", 24)
                                  << QByteArray("\r\0\n\0\xe9\0", 6);
}

void TestFiles::saveAsKeepsTheBytesAndTheWindowFollows()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, typed);
    const QString first = put(u"first.md"_s, file);
    DocumentWindow *window = DocumentController::shared().openDocument(first);
    window->model().chooseTheme(themes::ThemeKind::Sepia);
    const QString copy = m_scratch->path(u"copy.md"_s);

    Answers answers({Answers::file(copy)});
    menuItem(window, u"File"_s, u"Save As\u2026"_s)->trigger();
    QVERIFY(answers.allGiven());
    QCOMPARE(ScratchEnvironment::read(copy), file);
    QCOMPARE(window->filePath(), copy);
    QVERIFY(window->windowTitle().startsWith(u"copy.md"_s));
    QCOMPARE(m_scratch->fileThemes.theme(copy), std::optional(themes::ThemeKind::Sepia));
    QCOMPARE(window->model().theme(), themes::ThemeKind::Sepia);

    // Typing goes to the new file, autosaved in the note's encoding and line breaks.
    window->model().setMode(Mode::Source);
    window->sourceEditor()->moveCursor(QTextCursor::End);
    QTest::keyClick(window->sourceEditor(), Qt::Key_Return);
    QTest::sendKeyEvent(QTest::Click, window->sourceEditor(), Qt::Key_Eacute, u"\u00e9"_s,
                        Qt::NoModifier);
    m_scratch->clock.advance(1s);
    QCOMPARE(ScratchEnvironment::read(copy), file + typed);
    QCOMPARE(ScratchEnvironment::read(first), file);
    QCOMPARE(DocumentController::shared().recentEntries().first(), copy);
}

void TestFiles::relocatingUpdatesTheVaultsLinksOnlyAfterAYes_data()
{
    QTest::addColumn<QString>("how");       // rename: the name typed; move: the folder
    QTest::addColumn<QMessageBox::StandardButton>("answer"); // to "Update links?"
    QTest::addColumn<QString>("index");     // Index.md afterwards, empty: as it was
    QTest::addColumn<QByteArray>("latin1"); // Projects/Notes.md afterwards, empty: as it was
    QTest::addColumn<QString>("error");     // what the alert says instead, when anything
    QTest::addColumn<QString>("opened");    // Open.md, open in a window, afterwards

    QTest::newRow("rename-yes")
        << u"Flowers"_s << QMessageBox::Yes
        << u"See [[Flowers]] and [[Flowers#Raised|the beds]].\r\n```\r\n[[Beds]]\r\n```\r\n"
           "[plan](Projects/Flowers.md#Raised%20beds) `[[Beds]]`\r\n"_s
        << QByteArray("Caf\xe9 [b](Flowers.md) ![[Flowers]]\n") << QString()
        << u"Open: [[Flowers]]\n"_s;
    QTest::newRow("rename-with-spaces-yes")
        << u"Raised beds.md"_s << QMessageBox::Yes
        << u"See [[Raised beds]] and [[Raised beds#Raised|the beds]].\r\n```\r\n[[Beds]]\r\n```\r\n"
           "[plan](Projects/Raised%20beds.md#Raised%20beds) `[[Beds]]`\r\n"_s
        << QByteArray("Caf\xe9 [b](Raised%20beds.md) ![[Raised beds]]\n") << QString()
        << u"Open: [[Raised beds]]\n"_s;
    QTest::newRow("rename-no") << u"Flowers"_s << QMessageBox::No << QString() << QByteArray()
                               << QString()
        << QString();
    QTest::newRow("rename-cancel") << u"Flowers"_s << QMessageBox::Cancel << QString()
                                   << QByteArray() << QString()
        << QString();
    // "Welcome" is taken by another note: a bare name would lead there, so the path is written.
    QTest::newRow("rename-to-a-name-in-use")
        << u"Welcome"_s << QMessageBox::Yes
        << u"See [[Projects/Welcome]] and [[Projects/Welcome#Raised|the beds]].\r\n```\r\n[[Beds]]\r\n```\r\n"
           "[plan](Projects/Welcome.md#Raised%20beds) `[[Beds]]`\r\n"_s
        << QByteArray("Caf\xe9 [b](Welcome.md) ![[Projects/Welcome]]\n") << QString()
        << u"Open: [[Projects/Welcome]]\n"_s;
    QTest::newRow("move-yes")
        << u"Archive"_s << QMessageBox::Yes
        << u"See [[Beds]] and [[beds#Raised|the beds]].\r\n```\r\n[[Beds]]\r\n```\r\n"
           "[plan](Archive/Beds.md#Raised%20beds) `[[Beds]]`\r\n"_s
        << QByteArray("Caf\xe9 [b](../Archive/Beds.md) ![[Beds]]\n") << QString()
        << QString();
    QTest::newRow("rename-clash") << u"Taken"_s << QMessageBox::Ok << QString() << QByteArray()
                                  << u"\u201CTaken.md\u201D is already in"_s
        << QString();
    QTest::newRow("latin1-cannot-hold-the-name")
        << u"\u0141\u00f3d\u017a"_s << QMessageBox::Ok << QString() << QByteArray()
        << u"saved as ISO Latin-1, which cannot hold the new name"_s
        << QString();
}

void TestFiles::relocatingUpdatesTheVaultsLinksOnlyAfterAYes()
{
    QFETCH(QString, how);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, index);
    QFETCH(QByteArray, latin1);
    QFETCH(QString, error);
    QFETCH(QString, opened);
    const QString indexText = u"See [[Beds]] and [[beds#Raised|the beds]].\r\n```\r\n[[Beds]]\r\n```\r\n"
                              "[plan](Projects/Beds.md#Raised%20beds) `[[Beds]]`\r\n"_s;
    const QByteArray notesBytes("Caf\xe9 [b](Beds.md) ![[Beds]]\n");
    put(u"Garden/.obsidian/app.json"_s, "{}");
    const QString beds = put(u"Garden/Projects/Beds.md"_s, "# Beds\n");
    const QMap<QString, QByteArray> before{
        {put(u"Garden/Index.md"_s, indexText.toUtf8()), indexText.toUtf8()},
        {put(u"Garden/Projects/Notes.md"_s, notesBytes), notesBytes},
        {put(u"Garden/Welcome.md"_s, "[[Welcome]] [x](Projects/Other.md)\n"),
         "[[Welcome]] [x](Projects/Other.md)\n"},
        {put(u"Garden/Projects/Taken.md"_s, "taken\n"), "taken\n"},
        {put(u"Garden/Open.md"_s, "Open: [[Beds]]\n"), "Open: [[Beds]]\n"},
    };
    QVERIFY(QDir().mkpath(m_scratch->path(u"Garden/Archive"_s)));
    DocumentWindow *window = DocumentController::shared().openDocument(beds);
    DocumentWindow *open = DocumentController::shared().openDocument(m_scratch->path(u"Garden/Open.md"_s));

    const bool move = how == u"Archive";
    QString target = move ? m_scratch->path(u"Garden/Archive/Beds.md"_s)
                          : m_scratch->path(u"Garden/Projects/"_s + how);
    if (!target.endsWith(u".md"))
        target += u".md"_s;
    Answers answers(move ? QList{Answers::button(answer)}
                         : QList{Answers::text(how), Answers::button(answer)});
    if (move)
        app::filecommands::relocate(*window, target);
    else
        menuItem(window, u"File"_s, u"Rename\u2026"_s)->trigger();
    QVERIFY(answers.allGiven());

    const bool moved = error.isEmpty() && answer != QMessageBox::Cancel;
    QCOMPARE(QFileInfo::exists(beds), !moved);
    QCOMPARE(window->filePath(), moved ? target : beds);
    if (!error.isEmpty()) {
        QCOMPARE(answers.said.size(), 1);
        QVERIFY2(answers.said.first().contains(error), qPrintable(answers.said.first()));
    } else {
        // The question lists the notes whose links lead here, and only those.
        QCOMPARE(answers.said.size(), 1);
        QVERIFY2(answers.said.first().startsWith(u"Update links in 3 notes? | These notes link to "
                                                  "\u201CBeds.md\u201D:\n\u2022 Index.md\n"
                                                  "\u2022 Open.md\n\u2022 Projects/Notes.md\n"_s)
                     || (move && answers.said.first().startsWith(u"Update links in 2 notes?")),
                 qPrintable(answers.said.first()));
    }
    const bool updated = moved && answer == QMessageBox::Yes;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        QByteArray expected = it.value();
        if (updated && it.key().endsWith(u"Index.md"))
            expected = index.toUtf8();
        if (updated && it.key().endsWith(u"Notes.md"))
            expected = latin1;
        if (it.key().endsWith(u"Open.md")) {
            // The open note changes in its window, which saves it.
            if (updated && !opened.isEmpty())
                expected = opened.toUtf8();
            QCOMPARE(open->text().text().toUtf8(), expected);
        }
        QCOMPARE(ScratchEnvironment::read(it.key()), expected);
    }
    if (moved) {
        QCOMPARE(ScratchEnvironment::read(target), QByteArray("# Beds\n"));
        QVERIFY(!DocumentController::shared().recentEntries().contains(beds));
    }
}

void TestFiles::aRelocatedNoteKeepsItsOwnLinks_data()
{
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("text");
    // Web links, wikilinks, links found by name and links that lead nowhere stay as written.
    QTest::newRow("moved") << u"Garden/Archive/Beds.md"_s
                           << u"![plan](../Projects/plan%20v2.png) [i](../Index.md) [me](Beds.md#top) "
                              "[w](https://example.org/a.png) [[Index]] [n](Welcome.md) [x](gone.md)\r\n"_s;
    QTest::newRow("renamed") << u"Garden/Projects/Flowers.md"_s
                             << u"![plan](plan%20v2.png) [i](../Index.md) [me](Flowers.md#top) "
                                "[w](https://example.org/a.png) [[Index]] [n](Welcome.md) [x](gone.md)\r\n"_s;
}

void TestFiles::aRelocatedNoteKeepsItsOwnLinks()
{
    QFETCH(QString, to);
    QFETCH(QString, text);
    put(u"Garden/.obsidian/app.json"_s, "{}");
    put(u"Garden/Index.md"_s, "# Index\n");
    put(u"Garden/Welcome.md"_s, "# Welcome\n");
    put(u"Garden/Projects/plan v2.png"_s, "png");
    QVERIFY(QDir().mkpath(m_scratch->path(u"Garden/Archive"_s)));
    const QString beds = put(u"Garden/Projects/Beds.md"_s,
                             "![plan](plan%20v2.png) [i](../Index.md) [me](Beds.md#top) "
                             "[w](https://example.org/a.png) [[Index]] [n](Welcome.md) [x](gone.md)\r\n");
    DocumentWindow *window = DocumentController::shared().openDocument(beds);
    QVERIFY(app::filecommands::relocate(*window, m_scratch->path(to)));
    QCOMPARE(ScratchEnvironment::read(m_scratch->path(to)), text.toUtf8());
    // One step: Undo brings the links back as they were written.
    window->model().text().undo();
    QVERIFY(window->model().text().text().startsWith(u"![plan](plan%20v2.png) [i](../Index.md) [me](Beds.md#top)"_s));
}

void TestFiles::recentFilesShowWhatIsGone()
{
    auto &controller = DocumentController::shared();
    const QString a = put(u"a.md"_s, "a");
    const QString b = put(u"b.md"_s, "b");
    const QString c = put(u"c.md"_s, "c");
    const QString otherA = put(u"other/a.md"_s, "a");
    DocumentWindow *window = nullptr;
    for (const QString &path : {otherA, a, b, c})
        window = controller.openDocument(path);
    delete controller.windowForPath(b);
    QVERIFY(QFile::remove(b));

    QMenu *recent = menuItem(window, u"File"_s, u"Open Recent"_s)->menu();
    const auto shown = [recent] {
        Q_EMIT recent->aboutToShow();
        QStringList items;
        for (QAction *action : recent->actions())
            items << (action->isSeparator() ? u"|"_s
                                            : action->text().remove(u'&')
                                                  + (action->isEnabled() ? u""_s : u" (grey)"_s));
        return items;
    };
    const QString here = QDir(m_scratch->dir.path()).dirName();
    QCOMPARE(shown(), (QStringList{u"c.md"_s, u"b.md (grey)"_s, u"a.md \u2014 "_s + here,
                                   u"a.md \u2014 other"_s, u"|"_s, u"Clear Menu"_s}));

    // Gone after the menu was read: chosen, it leaves the list with a word why.
    Answers answers({Answers::button(QMessageBox::Ok)});
    app::filecommands::openRecent(b, window);
    QVERIFY(answers.allGiven());
    QVERIFY(answers.said.first().startsWith(u"\u201Cb.md\u201D was moved or deleted."_s));
    QCOMPARE(controller.windows().size(), 3);
    QCOMPARE(shown(), (QStringList{u"c.md"_s, u"a.md \u2014 "_s + here, u"a.md \u2014 other"_s,
                                   u"|"_s, u"Clear Menu"_s}));

    recent->actions().last()->trigger();
    QCOMPARE(shown(), (QStringList{u"No Recent Files (grey)"_s, u"|"_s, u"Clear Menu (grey)"_s}));
}

void TestFiles::aMissingNoteIsMadeWhereTheLinkLooks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("made"); // empty: nothing made
    QTest::newRow("bare-wikilink-at-the-root") << u"wikilink"_s << u"Compost"_s << QMessageBox::Save
                                               << u"Garden/Compost.md"_s;
    QTest::newRow("wikilink-with-a-new-folder")
        << u"wikilink"_s << u"Seeds/Tomato"_s << QMessageBox::Save << u"Garden/Seeds/Tomato.md"_s;
    QTest::newRow("link-beside-the-note") << u"link"_s << u"Paths%20and%20edges.md"_s
                                          << QMessageBox::Save << u"Garden/Projects/Paths and edges.md"_s;
    QTest::newRow("declined") << u"wikilink"_s << u"Compost"_s << QMessageBox::Ok << QString();
}

void TestFiles::aMissingNoteIsMadeWhereTheLinkLooks()
{
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, made);
    put(u"Garden/.obsidian/app.json"_s, "{}");
    const QString from = put(u"Garden/Projects/Beds.md"_s, "# Beds\n");
    DocumentWindow *window = DocumentController::shared().openDocument(from);
    Answers answers({Answers::button(answer)});
    if (kind == u"wikilink") {
        window->model().openWikilink(target, QString());
    } else {
        const QUrl resolved = QUrl::fromLocalFile(QFileInfo(from).absolutePath() + u'/')
                                  .resolved(QUrl(target));
        window->model().openLink(resolved.toString(QUrl::FullyEncoded), target);
    }
    QVERIFY(answers.allGiven());
    QCOMPARE(answers.said.size(), 1);
    QVERIFY(!answers.said.first().contains(u"vault vault"));
    if (made.isEmpty()) {
        QCOMPARE(DocumentController::shared().windows().size(), 1);
        QVERIFY(!QFileInfo::exists(m_scratch->path(u"Garden/Compost.md"_s)));
        return;
    }
    QCOMPARE(ScratchEnvironment::read(m_scratch->path(made)), QByteArray());
    QVERIFY(DocumentController::shared().windowForPath(m_scratch->path(made)));
    // Known to the vault at once: the link now leads there.
    if (kind == u"wikilink")
        QCOMPARE(vault::VaultIndex::index(from).resolve(target, from),
                 std::optional(QDir::cleanPath(m_scratch->path(made))));
}

void TestFiles::quitCancelledAtAnyWindowKeepsThemAll_data()
{
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
    QTest::addColumn<bool>("quit");
    using B = QMessageBox::StandardButton;
    QTest::newRow("cancel-at-the-first") << QList<B>{QMessageBox::Cancel} << false;
    QTest::newRow("cancel-at-the-second") << QList<B>{QMessageBox::Discard, QMessageBox::Cancel}
                                          << false;
    QTest::newRow("discard-both") << QList<B>{QMessageBox::Discard, QMessageBox::Discard} << true;
}

void TestFiles::quitCancelledAtAnyWindowKeepsThemAll()
{
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(bool, quit);
    auto &controller = DocumentController::shared();
    DocumentWindow *titled = controller.openDocument(put(u"a.md"_s, "a\n"));
    QList<QPointer<DocumentWindow>> windows{titled};
    for (const QString &draft : {u"first draft"_s, u"second draft"_s}) {
        DocumentWindow *window = controller.newDocument();
        window->model().setMode(Mode::Source);
        QTest::keyClicks(window->sourceEditor(), draft);
        windows << window;
    }
    QList<Answers::Answer> given;
    for (auto answer : answers)
        given << Answers::button(answer);
    {
        Answers dialogs(given);
        menuItem(titled, u"File"_s, u"Quit"_s)->trigger();
        QVERIFY(dialogs.allGiven());
        QCOMPARE(dialogs.said.size(), answers.size());
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const auto &window : windows) {
        QCOMPARE(window && window->isVisible(), !quit);
    }
    if (!quit) {
        QCOMPARE(windows[1]->text().text(), u"first draft"_s);
        QCOMPARE(windows[2]->text().text(), u"second draft"_s);
        // Nothing remembers the answers: closing one window later asks again.
        Answers again({Answers::button(QMessageBox::Cancel)});
        QVERIFY(!windows[1]->close());
        QVERIFY(again.allGiven());
    }
}

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
