#include "documenttoolbar.h"

#include "documentcontroller.h"
#include "documentmenus.h"
#include "documentwindow.h"
#include "export/exporter.h"
#include "icons.h"
#include "settingswindow.h"
#include "themes/appearance.h"
#include "typography.h"

#include <QAction>
#include <QActionGroup>
#include <QFileInfo>
#include <QMenu>
#include <QToolButton>

namespace quorvel::app {

using core::DocumentModel;
using Mode = core::DocumentModel::Mode;

namespace {

// Fusion draws a menu button's arrow under its label, where it reads as a stray mark; and once a
// button has a style sheet, its hovered and open states are white squares unless told otherwise.
const QString kMenuButtonStyle = QStringLiteral(
    "QToolButton::menu-indicator { image: none; width: 0; }"
    "QToolButton:pressed, QToolButton:open { background-color: rgba(128, 128, 128, 0.22);"
     " border: 1px solid rgba(128, 128, 128, 0.35); border-radius: 4px; }"
    "QToolButton:hover:!pressed:!open { background-color: rgba(128, 128, 128, 0.12);"
    " border: 1px solid rgba(128, 128, 128, 0.25); border-radius: 4px; }");

} // namespace

DocumentToolbar::DocumentToolbar(DocumentWindow &window)
    : QToolBar(tr("Document"), &window)
    , m_window(window)
{
    DocumentWindow *w = &window;
    DocumentModel *model = &window.model();
    window.addToolBar(this);
    setObjectName(QStringLiteral("documentToolbar"));
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(16, 16));
    toggleViewAction()->setVisible(false);
    setContentsMargins(6, 2, 6, 2);

    // The views, in the order of the switcher: reading, editing, source, split.
    auto *modes = new QActionGroup(this);
    const struct
    {
        Mode mode;
        const char *icon;
        const char *name;
        const char *help;
    } switcher[] = {{Mode::Read, "read", QT_TR_NOOP("Reading View"), QT_TR_NOOP("Reading View (Ctrl+1)")},
                    {Mode::Visual, "edit", QT_TR_NOOP("Editing View"), QT_TR_NOOP("Editing View (Ctrl+2)")},
                    {Mode::Source, "source", QT_TR_NOOP("Source View"), QT_TR_NOOP("Source View (Ctrl+4)")},
                    {Mode::Split, "split", QT_TR_NOOP("Split View"), QT_TR_NOOP("Split View (Ctrl+3)")}};
    for (const auto &entry : switcher) {
        // The name is what a screen reader says; the button shows only the icon.
        auto *action = addIcon(addAction(tr(entry.name), w, [model, mode = entry.mode] { model->setMode(mode); }),
                               QString::fromLatin1(entry.icon));
        action->setToolTip(tr(entry.help));
        action->setCheckable(true);
        action->setData(int(entry.mode));
        modes->addAction(action);
    }
    followMode(modes, *model);
    addSeparator();

    // The window's own, like its other menus: it hands each of them the theme's palette.
    auto *openMenu = new QMenu(w);
    // Rebuilt each time it opens: another window may have opened a file since.
    connect(openMenu, &QMenu::aboutToShow, openMenu, [w, openMenu] {
        openMenu->clear();
        openMenu->addAction(tr("Open\u2026"), w,
                            [w] { DocumentController::shared().showOpenDialog(w); });
        const QStringList recent = DocumentController::shared().recentDocuments();
        if (!recent.isEmpty())
            openMenu->addSeparator();
        for (const QString &path : recent) {
            auto *item = openMenu->addAction(QFileInfo(path).fileName(), w,
                                             [path] { DocumentController::shared().openDocument(path); });
            item->setToolTip(path);
        }
    });
    auto *open = addIcon(openMenu->menuAction(), QStringLiteral("open"));
    open->setText(tr("Open"));
    open->setToolTip(tr("Open (Ctrl+O)"));
    connect(open, &QAction::triggered, w, [w] { DocumentController::shared().showOpenDialog(w); });
    addAction(open);
    auto *save = addIcon(addAction(tr("Save"), w, [model] { model->saveNow(); }),
                         QStringLiteral("save"));
    save->setToolTip(tr("Save (Ctrl+S)"));
    auto *exportMenu = new QMenu(w);
    exportMenu->addAction(tr("PDF\u2026"), w, [model] { exporter::exportPDF(*model); });
    exportMenu->addAction(tr("HTML\u2026"), w, [model] { exporter::exportHTML(*model); });
    exportMenu->addAction(tr("Word (.docx)\u2026"), w, [model] { exporter::exportDOCX(*model); });
    exportMenu->addSeparator();
    exportMenu->addAction(tr("Print\u2026"), w, [model] { exporter::printDocument(*model); });
    auto *exports = addIcon(exportMenu->menuAction(), QStringLiteral("export"));
    exports->setText(tr("Export"));
    exports->setToolTip(tr("Export"));
    addAction(exports);
    for (QAction *withMenu : {open, exports}) {
        if (auto *button = qobject_cast<QToolButton *>(widgetForAction(withMenu))) {
            button->setPopupMode(QToolButton::InstantPopup);
            // Fusion draws the menu arrow under the label, where it reads as a stray mark.
            button->setStyleSheet(kMenuButtonStyle);
        }
    }

    // The window's title already names the file and marks unsaved changes; the bar keeps its
    // width for the commands, the view's on the left and the text's on the right.
    auto *gap = new QWidget(this);
    gap->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    addWidget(gap);

    // As Edit › Find: in split view, the pane with the focus.
    auto *find = addIcon(addAction(tr("Find"), &window,
                                   [w] { w->findCommand(DocumentWindow::FindCommand::Find); }),
                         QStringLiteral("find"));
    find->setToolTip(tr("Find (Ctrl+F)"));
    const struct
    {
        const char *icon;
        const char *name;
        const char *help;
        const char *command;
        const char *mark;
    } buttons[] = {{"bold", QT_TR_NOOP("Bold"), QT_TR_NOOP("Bold (Ctrl+B)"), "bold", "**"},
                   {"italic", QT_TR_NOOP("Italic"), QT_TR_NOOP("Italic (Ctrl+I)"), "italic", "*"},
                   {"strike", QT_TR_NOOP("Strikethrough"), QT_TR_NOOP("Strikethrough"), "strike", "~~"}};
    QList<QAction *> formatActions;
    for (const auto &entry : buttons) {
        auto *action = addIcon(
            addAction(tr(entry.name), w,
                      [w, command = QString::fromLatin1(entry.command),
                       mark = QString::fromLatin1(entry.mark)] {
                          w->applyFormat(command, mark, mark);
                      }),
            QString::fromLatin1(entry.icon));
        action->setToolTip(tr(entry.help));
        formatActions.append(action);
    }
    const auto updateFormat = [model, formatActions] {
        for (QAction *action : formatActions)
            action->setEnabled(model->mode() != Mode::Read);
    };
    connect(model, &DocumentModel::modeChanged, w, updateFormat);
    updateFormat();

    auto *settingsMenu = new QMenu(w);
    addThemePicker(settingsMenu->addMenu(tr("Theme")), window);
    settingsMenu->addSeparator();
    themes::Appearance &appearance = model->environment().appearance;
    settingsMenu->addAction(tr("Larger Text"), w, [&appearance] {
        appearance.setFontSize(typography::larger(appearance.fontSize()));
    });
    settingsMenu->addAction(tr("Smaller Text"), w, [&appearance] {
        appearance.setFontSize(typography::smaller(appearance.fontSize()));
    });
    settingsMenu->addAction(tr("Reset Typography"), w, [&appearance] { typography::reset(appearance); });
    settingsMenu->addSeparator();
    settingsMenu->addAction(tr("Presentation Mode"), w, [model] {
        model->setMode(Mode::Read);
        model->setPresentation(true);
    });
    settingsMenu->addSeparator();
    settingsMenu->addAction(tr("Preferences\u2026"), w, [] { SettingsWindow::showShared(); });
    auto *settings = addIcon(settingsMenu->menuAction(), QStringLiteral("settings"));
    settings->setText(tr("Preferences"));
    settings->setToolTip(tr("Theme and Preferences"));
    addAction(settings);
    if (auto *button = qobject_cast<QToolButton *>(widgetForAction(settings))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // The gear says "menu" by itself; the arrow would only crowd it.
        button->setStyleSheet(kMenuButtonStyle);
    }
    m_labelled = {open, save, exports};
    // A toolbar's buttons are left out of Tab by default; here they are the way to the commands
    // without the pointer, in the order they are shown.
    QWidget *previous = nullptr;
    for (QAction *action : actions()) {
        QWidget *button = widgetForAction(action);
        if (!qobject_cast<QToolButton *>(button))
            continue;
        button->setFocusPolicy(Qt::TabFocus);
        if (previous)
            setTabOrder(previous, button);
        previous = button;
    }
    repaintIcons();
    refresh();
}

QAction *DocumentToolbar::addIcon(QAction *action, const QString &icon)
{
    m_icons.append({action, icon});
    return action;
}

void DocumentToolbar::repaintIcons()
{
    // Drawn from SVG: only when the colours change, never at each step of a resize.
    const QColor ink = m_window.palette().color(QPalette::ButtonText);
    for (const auto &[action, icon] : m_icons) {
        action->setIcon(themedIcon(icon, ink));
        // A button with a style sheet takes its text colour from the sheet, not the palette.
        if (auto *button = widgetForAction(action); button && !button->styleSheet().isEmpty())
            button->setStyleSheet(kMenuButtonStyle + QStringLiteral(" QToolButton { color: %1; }").arg(ink.name()));
    }
}

void DocumentToolbar::refresh()
{
    const DocumentModel &model = m_window.model();
    // Labels beside Open, Save and Export only while the window has room for them.
    const bool wide = typography::wideToolbar(m_window.width(), model.showOutline());
    for (QAction *action : m_labelled) {
        if (auto *button = qobject_cast<QToolButton *>(widgetForAction(action)))
            button->setToolButtonStyle(wide ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
    }
}

} // namespace quorvel::app
