#include "documentmenus.h"

#include "aboutdialog.h"
#include "documentcontroller.h"
#include "documentwindow.h"
#include "editor/blockformat.h"
#include "export/exporter.h"
#include "filecommands.h"
#include "settingswindow.h"
#include "shortcutswindow.h"
#include "support.h"
#include "themes/appearance.h"
#include "themes/themekind.h"
#include "typography.h"
#include "updater.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace quorvel::app {

using namespace Qt::StringLiterals;
using core::DocumentModel;
using Mode = core::DocumentModel::Mode;

// The menus were the window's own; their strings keep its translation context.

DocumentMenus::DocumentMenus(DocumentWindow &window)
    : m_window(window)
    , m_model(window.model())
{
    addFileMenu();
    addEditMenu();
    addFormatMenu();
    addViewMenu();
    addHelpMenu();
}

void DocumentMenus::addFileMenu()
{
    DocumentWindow *window = &m_window;
    DocumentModel *model = &m_model;
    auto *file = window->menuBar()->addMenu(DocumentWindow::tr("&File"));
    file->addAction(DocumentWindow::tr("&New"), QKeySequence::New, window,
                    [] { DocumentController::shared().newDocument(); });
    file->addAction(DocumentWindow::tr("&Open\u2026"), QKeySequence::Open, window,
                    [window] { DocumentController::shared().showOpenDialog(window); });
    auto *recent = file->addMenu(DocumentWindow::tr("Open Recen&t"));
    // Read when opened: another window may have opened, renamed or cleared since.
    QObject::connect(recent, &QMenu::aboutToShow, window,
                     [recent, window] { filecommands::fillRecentMenu(recent, window); });
    filecommands::fillRecentMenu(recent, window);
    file->addAction(DocumentWindow::tr("&Quick Open\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P),
                    window, [window] { window->quickOpen(); });
    file->addSeparator();
    auto *save = file->addAction(DocumentWindow::tr("&Save"), window, [model] { model->saveNow(); });
    save->setShortcut(QKeySequence::Save);
    file->addAction(DocumentWindow::tr("Save &As\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                    window, [window] { filecommands::saveAs(*window); });
    auto *rename = file->addAction(DocumentWindow::tr("Rena&me\u2026"), window,
                                   [window] { filecommands::rename(*window); });
    auto *move = file->addAction(DocumentWindow::tr("Mo&ve To\u2026"), window,
                                 [window] { filecommands::moveTo(*window); });
    auto *revert = file->addAction(DocumentWindow::tr("Revert to Save&d"), window,
                                   [window] { filecommands::revertToSaved(*window); });
    auto *reload = file->addAction(DocumentWindow::tr("&Reload from Disk"),
                                   QKeySequence(Qt::CTRL | Qt::Key_R), window,
                                   [model] { model->reloadFromDisk(); });
    file->addSeparator();
    auto *exports = file->addMenu(DocumentWindow::tr("&Export"));
    exports->addAction(DocumentWindow::tr("&PDF\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E),
                       window, [model] { exporter::exportPDF(*model); });
    exports->addAction(DocumentWindow::tr("&HTML\u2026"), window,
                       [model] { exporter::exportHTML(*model); });
    exports->addAction(DocumentWindow::tr("&Word (.docx)\u2026"), window,
                       [model] { exporter::exportDOCX(*model); });
    file->addAction(DocumentWindow::tr("&Print\u2026"), QKeySequence::Print, window,
                    [model] { exporter::printDocument(*model); });
    file->addSeparator();
    file->addAction(DocumentWindow::tr("&Close"), QKeySequence::Close, window, &QWidget::close);
    file->addAction(DocumentWindow::tr("&Quit"), QKeySequence::Quit, qApp,
                    [] { DocumentController::shared().closeAllWindows(); });
    // A file to reload, rename or move exists only once the note has one; a saved version to go
    // back to only while there are changes since.
    const auto updateFileItems = [model, reload, rename, move, revert] {
        const bool titled = !model->fileUrl().isEmpty();
        for (QAction *action : {reload, rename, move})
            action->setEnabled(titled);
        revert->setEnabled(titled && model->dirty());
    };
    QObject::connect(model, &DocumentModel::fileUrlChanged, reload, updateFileItems);
    QObject::connect(model, &DocumentModel::dirtyChanged, reload, updateFileItems);
    updateFileItems();
}

void DocumentMenus::addEditMenu()
{
    auto *edit = m_window.menuBar()->addMenu(DocumentWindow::tr("&Edit"));
    addEditingItems(edit);
    edit->addSeparator();
    addFindItems(edit);
    edit->addSeparator();
    // Where Linux programs keep it.
    edit->addAction(DocumentWindow::tr("Pr&eferences\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma),
                    &m_window, [] { SettingsWindow::showShared(); });
    m_edit = edit;
}

void DocumentMenus::addEditingItems(QMenu *edit)
{
    using Command = DocumentWindow::EditCommand;
    DocumentWindow *window = &m_window;
    const struct
    {
        const char *label;
        Command command;
        QList<QKeySequence> keys;
    } items[] = {
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Undo"), Command::Undo, QKeySequence::keyBindings(QKeySequence::Undo)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Re&do"), Command::Redo, QKeySequence::keyBindings(QKeySequence::Redo)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Cu&t"), Command::Cut, QKeySequence::keyBindings(QKeySequence::Cut)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Copy"), Command::Copy, QKeySequence::keyBindings(QKeySequence::Copy)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Paste"), Command::Paste, QKeySequence::keyBindings(QKeySequence::Paste)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Paste as Plain Te&xt"), Command::PastePlainText, {Qt::CTRL | Qt::SHIFT | Qt::Key_V}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Select &All"), Command::SelectAll, QKeySequence::keyBindings(QKeySequence::SelectAll)},
    };
    QList<std::pair<QAction *, Command>> actions;
    for (const auto &item : items) {
        auto *action = edit->addAction(DocumentWindow::tr(item.label), window,
                                       [window, command = item.command] {
                                           window->editCommand(command);
                                       });
        action->setShortcuts(item.keys);
        actions.append({action, item.command});
        if (item.command == Command::Redo)
            edit->addSeparator();
    }
    // Whether a command can act changes with every click and key (a selection, the clipboard),
    // so it is asked when the menu opens. Closed, every item stays enabled for its shortcut: the
    // command itself does nothing where it cannot act, and a view that handles a key itself
    // (Ctrl+Z in the source or the editing page) takes it before the shortcut sees it.
    QObject::connect(edit, &QMenu::aboutToShow, edit, [window, actions] {
        for (const auto &[action, command] : actions)
            action->setEnabled(window->canEdit(command));
    });
    QObject::connect(edit, &QMenu::aboutToHide, edit, [actions] {
        for (const auto &[action, command] : actions)
            action->setEnabled(true);
    });
}

void DocumentMenus::addFindItems(QMenu *edit)
{
    using Command = DocumentWindow::FindCommand;
    DocumentWindow *window = &m_window;
    DocumentModel *model = &m_model;
    const struct
    {
        const char *label;
        Command command;
        QList<QKeySequence> keys;
    } finds[] = {
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Find\u2026"), Command::Find, {QKeySequence::Find}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Find and &Replace\u2026"), Command::FindAndReplace, {Qt::CTRL | Qt::Key_H}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Find &Next"), Command::Next, {Qt::Key_F3, Qt::CTRL | Qt::Key_G}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Find Pre&vious"), Command::Previous,
         {Qt::SHIFT | Qt::Key_F3, Qt::CTRL | Qt::SHIFT | Qt::Key_G}},
    };
    for (const auto &entry : finds) {
        auto *action = edit->addAction(DocumentWindow::tr(entry.label), window,
                                       [window, command = entry.command] {
                                           window->findCommand(command);
                                       });
        action->setShortcuts(entry.keys);
        if (entry.command == Command::FindAndReplace) {
            m_findAndReplace = action;
            // The reading view takes no edits.
            const auto follow = [model, action] { action->setEnabled(model->mode() != Mode::Read); };
            QObject::connect(model, &DocumentModel::modeChanged, action, follow);
            follow();
        }
    }
    edit->addAction(DocumentWindow::tr("Search in &Vault\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F),
                    window, [window] { window->searchVault(); });
}

void DocumentMenus::addFormatMenu()
{
    DocumentWindow *window = &m_window;
    DocumentModel *model = &m_model;
    auto *format = window->menuBar()->addMenu(DocumentWindow::tr("F&ormat"));
    const struct
    {
        const char *label;
        const char *command;
        const char *prefix;
        const char *suffix;
        QKeySequence key;
    } inlines[] = {
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Bold"), "bold", "**", "**", QKeySequence(Qt::CTRL | Qt::Key_B)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Italic"), "italic", "*", "*", QKeySequence(Qt::CTRL | Qt::Key_I)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Code"), "code", "`", "`", QKeySequence(Qt::CTRL | Qt::Key_QuoteLeft)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Link\u2026"), "link", "[", "", QKeySequence(Qt::CTRL | Qt::Key_K)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Highlight"), "mark", "==", "==", {}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Strikethrough"), "strike", "~~", "~~", {}},
    };
    for (const auto &entry : inlines) {
        format->addAction(DocumentWindow::tr(entry.label), entry.key, window,
                          [window, command = QString::fromLatin1(entry.command),
                           prefix = QString::fromLatin1(entry.prefix),
                           suffix = QString::fromLatin1(entry.suffix)] {
                              window->applyFormat(command, prefix, suffix);
                          });
    }
    format->addSeparator();
    using editor::BlockKind;
    for (int level = 1; level <= 6; ++level) {
        format->addAction(DocumentWindow::tr("Heading &%1").arg(level),
                          QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key(Qt::Key_0 + level)), window,
                          [window, level] {
                              window->applyBlockFormat(u"h%1"_s.arg(level),
                                                       {BlockKind::Heading, level});
                          });
    }
    const struct
    {
        const char *label;
        const char *command;
        BlockKind kind;
        QKeySequence key;
    } blocks[] = {
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Paragraph"), "paragraph", BlockKind::Paragraph, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0)},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Quote"), "quote", BlockKind::Quote, {}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "B&ulleted List"), "ul", BlockKind::Bullet, {}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Numbered List"), "ol", BlockKind::Numbered, {}},
        {QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "Chec&kbox"), "task", BlockKind::Task, {}},
    };
    for (const auto &entry : blocks) {
        format->addAction(DocumentWindow::tr(entry.label), entry.key, window,
                          [window, command = QString::fromLatin1(entry.command), kind = entry.kind] {
                              window->applyBlockFormat(command, {kind});
                          });
    }
    const auto updateFormat = [model, format] {
        // The reading view takes no edits: the menu says so rather than doing nothing.
        for (QAction *action : format->actions())
            action->setEnabled(model->mode() != Mode::Read);
    };
    QObject::connect(model, &DocumentModel::modeChanged, format, updateFormat);
    updateFormat();
}

void DocumentMenus::addViewMenu()
{
    DocumentWindow *window = &m_window;
    DocumentModel *model = &m_model;
    themes::Appearance &appearance = model->environment().appearance;
    auto *view = window->menuBar()->addMenu(DocumentWindow::tr("&View"));
    auto *modes = new QActionGroup(view);
    const struct
    {
        Mode mode;
        const char *label;
        Qt::Key key;
    } modeItems[] = {{Mode::Read, QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Reading View"), Qt::Key_1},
                     {Mode::Visual, QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "&Editing View"), Qt::Key_2},
                     {Mode::Split, QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "S&plit View"), Qt::Key_3},
                     {Mode::Source, QT_TRANSLATE_NOOP("quorvel::app::DocumentWindow", "So&urce View"), Qt::Key_4}};
    for (const auto &entry : modeItems) {
        auto *action = view->addAction(DocumentWindow::tr(entry.label), window,
                                       [model, mode = entry.mode] { model->setMode(mode); });
        action->setShortcut(QKeySequence(Qt::CTRL | entry.key));
        action->setCheckable(true);
        action->setData(int(entry.mode));
        modes->addAction(action);
    }
    followMode(modes, *model);
    view->addSeparator();
    auto *outline = view->addAction(QString(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                                    window, [model] { model->setShowOutline(!model->showOutline()); });
    auto *presentation = view->addAction(QString(), window, [window] { window->togglePresentation(); });
    presentation->setShortcuts({QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P), QKeySequence(Qt::Key_F11)});
    const auto nameToggles = [model, outline, presentation] {
        outline->setText(model->showOutline() ? DocumentWindow::tr("Hide &Outline")
                                              : DocumentWindow::tr("Show &Outline"));
        presentation->setText(model->presentation() ? DocumentWindow::tr("Exit Presentation &Mode")
                                                    : DocumentWindow::tr("Presentation &Mode"));
    };
    QObject::connect(model, &DocumentModel::showOutlineChanged, window, nameToggles);
    QObject::connect(model, &DocumentModel::presentationChanged, window, nameToggles);
    nameToggles();
    view->addSeparator();

    addThemePicker(view->addMenu(DocumentWindow::tr("&Theme")), *window);

    const auto step = [&appearance](auto set, auto get, auto next) {
        return [&appearance, set, get, next] { (appearance.*set)(next((appearance.*get)())); };
    };
    using themes::Appearance;
    view->addAction(DocumentWindow::tr("&Larger Text"), window,
                    step(&Appearance::setFontSize, &Appearance::fontSize, typography::larger))
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    view->addAction(DocumentWindow::tr("&Smaller Text"), QKeySequence(Qt::CTRL | Qt::Key_Minus), window,
                    step(&Appearance::setFontSize, &Appearance::fontSize, typography::smaller));
    view->addAction(DocumentWindow::tr("&Reset Typography"), QKeySequence(Qt::CTRL | Qt::Key_0), window,
                    [&appearance] { typography::reset(appearance); });
    view->addAction(DocumentWindow::tr("&Narrower Content"), QKeySequence(Qt::CTRL | Qt::Key_BracketLeft),
                    window,
                    step(&Appearance::setContentWidth, &Appearance::contentWidth, typography::narrower));
    view->addAction(DocumentWindow::tr("&Wider Content"), QKeySequence(Qt::CTRL | Qt::Key_BracketRight),
                    window,
                    step(&Appearance::setContentWidth, &Appearance::contentWidth, typography::wider));
    view->addAction(DocumentWindow::tr("&Tighter Line Spacing"), window,
                    step(&Appearance::setLineHeight, &Appearance::lineHeight, typography::tighter));
    view->addAction(DocumentWindow::tr("L&ooser Line Spacing"), window,
                    step(&Appearance::setLineHeight, &Appearance::lineHeight, typography::looser));
    view->addSeparator();
    auto *statusToggle = view->addAction(DocumentWindow::tr("Status &Bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(appearance.showStatusBar());
    QObject::connect(statusToggle, &QAction::toggled, &appearance, &Appearance::setShowStatusBar);
    QObject::connect(&appearance, &Appearance::showStatusBarChanged, statusToggle,
                     &QAction::setChecked);
}

void DocumentMenus::addHelpMenu()
{
    // Linux has no application menu: what it would hold goes to Help.
    m_help = m_window.menuBar()->addMenu(DocumentWindow::tr("&Help"));
    DocumentWindow *window = &m_window;
    m_help->addAction(DocumentWindow::tr("&Keyboard Shortcuts"), window,
                      [window] { ShortcutsWindow::showFor(*window); })
        ->setShortcuts({QKeySequence(Qt::Key_F1), QKeySequence(Qt::CTRL | Qt::Key_Slash)});
    m_help->addSeparator();
    m_help->addAction(DocumentWindow::tr("Send &Feedback\u2026"), &m_window,
                      [] { support::openFeedback(); });
    m_help->addAction(DocumentWindow::tr("&Support Quorvel\u2026"), &m_window,
                      [] { support::openSupport(); });
    m_help->addSeparator();
    auto *updates = m_help->addAction(DocumentWindow::tr("Check for &Updates\u2026"), &m_window,
                                      [] { Updater::shared().checkNow(); });
    updates->setEnabled(Updater::shared().canCheck());
    QObject::connect(&Updater::shared(), &Updater::canCheckChanged, updates, &QAction::setEnabled);
    m_help->addSeparator();
    m_help->addAction(DocumentWindow::tr("&About Quorvel"), window,
                      [window] { AboutDialog::showFor(window); });
}

void followMode(QActionGroup *modes, DocumentModel &model)
{
    const auto mark = [model = &model, modes] {
        for (QAction *action : modes->actions())
            action->setChecked(action->data().toInt() == int(model->mode()));
    };
    QObject::connect(&model, &DocumentModel::modeChanged, modes, mark);
    mark();
}

void addThemePicker(QMenu *menu, DocumentWindow &window)
{
    DocumentModel *model = &window.model();
    auto *group = new QActionGroup(menu);
    for (const themes::ThemeKind theme : themes::allThemes()) {
        auto *action = menu->addAction(themes::label(theme), &window,
                                       [model, theme] { model->chooseTheme(theme); });
        action->setCheckable(true);
        action->setData(themes::storedName(theme));
        group->addAction(action);
    }
    // The window's theme, as it is when the menu opens (another window may have changed it).
    QObject::connect(menu, &QMenu::aboutToShow, menu, [model, group] {
        for (QAction *action : group->actions())
            action->setChecked(action->data().toString() == themes::storedName(model->theme()));
    });
}

} // namespace quorvel::app
