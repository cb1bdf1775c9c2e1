// The window as assistive technology reads it: every control a user can reach by the keyboard or
// the pointer has a name and a description in the accessible tree, in each view, with the outline,
// the find bar and the replace line out; and Tab reaches the toolbar, the outline and the find bar.

#include "testsupport.h"

#include "app/application.h"
#include "app/documentcontroller.h"
#include "app/documentwindow.h"
#include "core/documentviews.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTranslator>
#include <QAbstractButton>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QWebEngineView>

using namespace quorvel;
using namespace Qt::StringLiterals;
using app::DocumentController;
using app::DocumentWindow;
using Mode = core::DocumentModel::Mode;

namespace {

bool interactive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::Slider:
    case QAccessible::SpinBox:
    case QAccessible::List:
    case QAccessible::Tree:
    case QAccessible::Link:
    case QAccessible::Document:
    case QAccessible::WebDocument:
        return true;
    default:
        return false;
    }
}

// "role object: what is missing" for each visible control without a name or a description. The
// page's own tree is its document's: the walk stops at the web view, which must be named itself.
void walk(QAccessibleInterface *node, QStringList &unnamed)
{
    if (!node || node->state().invisible)
        return;
    if (interactive(node->role())) {
        QStringList missing;
        if (node->text(QAccessible::Name).trimmed().isEmpty())
            missing << u"name"_s;
        if (node->text(QAccessible::Description).trimmed().isEmpty())
            missing << u"description"_s;
        if (!missing.isEmpty()) {
            QObject *object = node->object();
            unnamed << u"%1 %2 \"%3\": no %4"_s.arg(QString::number(int(node->role())),
                                                    object ? QString::fromLatin1(object->metaObject()->className()) : u"-"_s,
                                                    object ? object->objectName() : QString(),
                                                    missing.join(u" or "_s));
        }
    }
    if (qobject_cast<QWebEngineView *>(node->object()))
        return;
    for (int i = 0; i < node->childCount(); ++i)
        walk(node->child(i), unnamed);
}

} // namespace

class TestAccess : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void everyControlIsNamedAndDescribed_data();
    void everyControlIsNamedAndDescribed();
    void tabReachesTheToolbarOutlineAndFindBar();
    void everyWordOfTheChromeIsTranslated();

private:
    DocumentWindow *openNote(Mode mode);
    std::unique_ptr<ScratchEnvironment> m_scratch;
};

void TestAccess::init()
{
    m_scratch = std::make_unique<ScratchEnvironment>();
    app::installControllers();
    DocumentController::shared().setAlertsEnabled(false);
    DocumentController::shared().setModelEnvironment(m_scratch->env());
}

void TestAccess::cleanup()
{
    for (auto *window : DocumentController::shared().windows()) {
        window->document().updateChangeCount(core::DocumentFile::Change::Cleared);
        delete window;
    }
    core::DocumentModel::setControllerFactory({});
    m_scratch.reset();
}

DocumentWindow *TestAccess::openNote(Mode mode)
{
    DocumentWindow *window = DocumentController::shared().openDocument(
        m_scratch->write(u"note.md"_s, "# Title\n\nSome text.\n\n## Part\n\nMore text.\n"));
    window->show();
    window->model().setMode(mode);
    window->model().setShowOutline(true);
    return window;
}

void TestAccess::everyControlIsNamedAndDescribed_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::addColumn<bool>("replace");
    QTest::newRow("reading, find") << Mode::Read << false;
    QTest::newRow("editing, replace") << Mode::Visual << true;
    QTest::newRow("split, replace") << Mode::Split << true;
    QTest::newRow("source, replace") << Mode::Source << true;
}

void TestAccess::everyControlIsNamedAndDescribed()
{
    QFETCH(Mode, mode);
    QFETCH(bool, replace);
    DocumentWindow *window = openNote(mode);
    // The headings come from the page once it has rendered the note; the source view has none.
    if (mode != Mode::Source)
        QTRY_VERIFY_WITH_TIMEOUT(!window->model().outline().isEmpty(), 20000);
    window->findCommand(replace ? DocumentWindow::FindCommand::FindAndReplace
                                : DocumentWindow::FindCommand::Find);
    QTest::qWait(50);
    QStringList unnamed;
    walk(QAccessible::queryAccessibleInterface(window), unnamed);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(u"\n"_s)));
}

void TestAccess::tabReachesTheToolbarOutlineAndFindBar()
{
    DocumentWindow *window = openNote(Mode::Split);
    QTRY_VERIFY_WITH_TIMEOUT(!window->model().outline().isEmpty(), 20000);
    window->findCommand(DocumentWindow::FindCommand::FindAndReplace);
    QTest::qWait(50);
    // The focus chain from the first toolbar button, as Tab walks it: only widgets that take the
    // focus from the keyboard and are shown.
    auto *toolbar = window->findChild<QToolBar *>();
    QVERIFY(toolbar);
    QWidget *first = toolbar->widgetForAction(toolbar->actions().constFirst());
    QVERIFY(first);
    QList<QWidget *> reached;
    for (QWidget *w = first; w && !reached.contains(w); w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window) && w->isEnabled())
            reached << w;
    }
    const auto reaches = [&](auto predicate) {
        return std::any_of(reached.begin(), reached.end(), predicate);
    };
    QCOMPARE(first->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
    QVERIFY2(std::count_if(reached.begin(), reached.end(),
                           [&](QWidget *w) { return w->parentWidget() == toolbar; })
                 >= toolbar->actions().size() / 2,
             "the toolbar's buttons are not on the Tab chain");
    QVERIFY2(reaches([&](QWidget *w) { return w->accessibleName().startsWith(u"Outline"_s); }),
             "the outline is not on the Tab chain");
    // The find bar's fields, then its buttons.
    for (const QString &name : {u"Find"_s, u"Replace"_s, u"Match Case"_s, u"Next Match"_s}) {
        const bool field = name == u"Find" || name == u"Replace";
        QVERIFY2(reaches([&](QWidget *w) {
                     return w->accessibleName() == name && field == bool(qobject_cast<QLineEdit *>(w));
                 }),
                 qPrintable(name + u" is not on the Tab chain"_s));
    }
    // Escape leaves the bar from a button as from a field.
    auto *matchCase = *std::find_if(reached.begin(), reached.end(), [](QWidget *w) {
        return w->accessibleName() == u"Match Case";
    });
    QWidget *bar = matchCase->parentWidget();
    QVERIFY(bar->isVisible());
    QTest::keyClick(matchCase, Qt::Key_Escape);
    QVERIFY(!bar->isVisible());
}

// What the menus, the toolbar and the find bar say, under a translation that marks every word
// of the template: a word without the mark never went through tr().
void TestAccess::everyWordOfTheChromeIsTranslated()
{
#ifndef QUORVEL_PSEUDO_TRANSLATION
    QSKIP("built without lrelease");
#else
    QTranslator marked;
    QVERIFY(marked.load(QStringLiteral(QUORVEL_PSEUDO_TRANSLATION)));
    QApplication::installTranslator(&marked);
    const auto uninstall = qScopeGuard([&] { QApplication::removeTranslator(&marked); });
    DocumentWindow *window = openNote(Mode::Split);
    window->findCommand(DocumentWindow::FindCommand::FindAndReplace);

    QStringList unmarked;
    const auto check = [&](const QString &where, const QString &word) {
        if (!word.isEmpty() && !word.startsWith(u'\u00a7'))
            unmarked << where + u": "_s + word;
    };
    std::function<void(QMenu *, const QString &)> walkMenu = [&](QMenu *menu, const QString &path) {
        Q_EMIT menu->aboutToShow();
        for (QAction *action : menu->actions()) {
            if (action->isSeparator())
                continue;
            // Open Recent lists files by their names, which are nobody's to translate.
            if (!QFileInfo(action->toolTip()).isAbsolute())
                check(path, action->text());
            if (action->menu())
                walkMenu(action->menu(), path + u" > "_s + action->text());
        }
    };
    for (QAction *top : window->menuBar()->actions()) {
        check(u"menu bar"_s, top->text());
        if (top->menu())
            walkMenu(top->menu(), top->text());
    }
    auto *toolbar = window->findChild<QToolBar *>();
    QVERIFY(toolbar);
    for (QAction *action : toolbar->actions()) {
        if (action->isSeparator() || qobject_cast<QWidget *>(toolbar->widgetForAction(action)) == nullptr)
            continue;
        check(u"toolbar"_s, action->text());
        check(u"toolbar tip"_s, action->toolTip());
    }
    for (auto *field : window->findChildren<QLineEdit *>()) {
        check(u"field"_s, field->placeholderText());
        check(u"field name"_s, field->accessibleName());
    }
    for (auto *button : window->findChildren<QAbstractButton *>()) {
        check(u"button"_s, button->accessibleName());
        check(u"button tip"_s, button->toolTip());
    }
    QVERIFY2(unmarked.isEmpty(), qPrintable(unmarked.join(u"\n"_s)));
#endif
}

int main(int argc, char **argv)
{
    // The web engine must be prepared for before the application starts.
    quorvel::app::prepareEnvironment(argc, argv);
    QApplication app(argc, argv);
    TestAccess test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_access.moc"
