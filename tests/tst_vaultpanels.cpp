// Search across the vault, backlinks and quick open in real windows over a vault of real notes.

#include "menusupport.h"
#include "testsupport.h"

#include "app/backlinkspanel.h"
#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "app/notelist.h"
#include "app/quickopen.h"
#include "app/vaultsearchpanel.h"
#include "core/documentviews.h"
#include "vault/searchindex.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::DocumentController;
using app::DocumentWindow;

class TestVaultPanels : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void aChosenNoteOpensInItsWindow_data();
    void aChosenNoteOpensInItsWindow();

private:
    std::unique_ptr<ScratchEnvironment> m_scratch;
};

void TestVaultPanels::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    DocumentController::shared().setAlertsEnabled(false);
    DocumentController::shared().setModelEnvironment(m_scratch->env());
    core::DocumentModel::setWorkspace(
        {[](const QString &path) { DocumentController::shared().openDocument(path); }, {}});
}

void TestVaultPanels::cleanup()
{
    for (auto *window : DocumentController::shared().windows())
        delete window;
    core::DocumentModel::setWorkspace({});
    m_scratch.reset();
}

void TestVaultPanels::aChosenNoteOpensInItsWindow_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("down");
    QTest::addColumn<QString>("opened");
    QTest::newRow("search, first result") << "Edit" << "Search in Vault\u2026" << "orchard" << 0
                                          << "Fruit/Apple.md";
    // The note named for the word first, the one that only says it after.
    QTest::newRow("search, arrow down") << "Edit" << "Search in Vault\u2026" << "pear" << 1
                                        << "Fruit/Apple.md";
    QTest::newRow("quick open") << "File" << "Quick Open\u2026" << "appl" << 0 << "Fruit/Apple.md";
    QTest::newRow("quick open, arrow down") << "File" << "Quick Open\u2026" << "pe" << 1
                                            << "Fruit/Apple.md";
    // No command: the backlinks under the outline, the first (and only) linking note.
    QTest::newRow("backlinks") << "" << "" << "" << 0 << "Fruit/Apple.md";
}

void TestVaultPanels::aChosenNoteOpensInItsWindow()
{
    QFETCH(QString, menu);
    QFETCH(QString, item);
    QFETCH(QString, typed);
    QFETCH(int, down);
    QFETCH(QString, opened);
    QDir().mkpath(m_scratch->path(u"vault/.obsidian"_s));
    QDir().mkpath(m_scratch->path(u"vault/Fruit"_s));
    const QString home = m_scratch->write(u"vault/Home.md"_s, "# Home\n");
    m_scratch->write(u"vault/Fruit/Apple.md"_s, "# Orchard\nAn apple tree, see [[Home]]. No pear.\n");
    m_scratch->write(u"vault/Pear.md"_s, "A pear tree.\n");
    DocumentWindow *window = DocumentController::shared().openDocument(home);
    QVERIFY(window);
    auto &index = vault::SearchIndex::forDocument(home);
    QVERIFY(waitUntil([&] { return index.idle(); }, 10000));

    app::NoteListView *list = nullptr;
    QWidget *field = nullptr;
    if (menu.isEmpty()) {
        list = window->backlinksPanel()->list();
        QVERIFY(waitUntil([&] { return window->backlinksPanel()->linkedCount() == 1; }, 10000));
        QCOMPARE(list->rows()->rows().at(1).text, u"An apple tree, see Home. No pear."_s);
    } else {
        QAction *action = menuItem(window, menu, item);
        QVERIFY(action);
        action->trigger();
        if (menu == u"Edit") {
            QVERIFY(window->searchPanel()->isVisible());
            field = window->searchPanel()->field();
            list = window->searchPanel()->results();
        } else {
            auto *popup = window->findChild<app::QuickOpen *>();
            QVERIFY(popup && popup->isVisible());
            field = popup->field();
            list = popup->results();
        }
        QTest::keyClicks(field, typed);
        QVERIFY(waitUntil([&] { return list->rows()->rowCount() > down; }, 10000));
        for (int i = 0; i < down; ++i)
            QTest::keyClick(field, Qt::Key_Down);
    }
    const QString expected = m_scratch->path(u"vault/"_s + opened);
    if (field) {
        QTest::keyClick(field, Qt::Key_Return);
    } else {
        const QRect row = list->visualRect(list->rows()->index(1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row.center());
    }
    QVERIFY(waitUntil([&] { return DocumentController::shared().windowForPath(expected); }, 10000));
}

QTEST_MAIN(TestVaultPanels)
#include "tst_vaultpanels.moc"
