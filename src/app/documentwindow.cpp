#include "documentwindow.h"

#include "chromepalette.h"

#include "core/debuglog.h"
#include "core/documenttext.h"
#include "documentcontroller.h"
#include "editor/editorcontroller.h"
#include "editor/markdowntextview.h"
#include "export/exporter.h"
#include "findbar.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"
#include "reloadbanner.h"
#include "outlinesidebar.h"
#include "settingswindow.h"
#include "icons.h"
#include "sourcefindbar.h"
#include "support.h"
#include "updater.h"
#include "typography.h"
#include "statusbar.h"
#include "themes/appearance.h"
#include "themes/settingsstore.h"

#include <QAbstractButton>
#include <QActionGroup>
#include <QMenu>
#include <QToolButton>
#include <QToolBar>
#include <QKeyEvent>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>

namespace quorvel::app {

using namespace Qt::StringLiterals;
using core::DocumentModel;
using Mode = core::DocumentModel::Mode;

namespace {

const QString kWindowFrameKey = QStringLiteral("windowFrame");
// How long a long note's source waits for the page's first screen at most, and after it.
constexpr std::chrono::milliseconds kEditorFillLimit{3000};
constexpr std::chrono::milliseconds kEditorFillDelay{100};
// Fusion draws a menu button's arrow under its label, where it reads as a stray mark; and once a
// button has a style sheet, its hovered and open states are white squares unless told otherwise.
const QString kMenuButtonStyle = QStringLiteral(
    "QToolButton::menu-indicator { image: none; width: 0; }"
    "QToolButton:pressed, QToolButton:open { background-color: rgba(128, 128, 128, 0.22);"
     " border: 1px solid rgba(128, 128, 128, 0.35); border-radius: 4px; }"
    "QToolButton:hover:!pressed:!open { background-color: rgba(128, 128, 128, 0.12);"
    " border: 1px solid rgba(128, 128, 128, 0.25); border-radius: 4px; }");


} // namespace

DocumentWindow::DocumentWindow(std::unique_ptr<core::DocumentSession> session, QWidget *parent)
    : QMainWindow(parent)
    , m_session(std::move(session))
    , m_document(&m_session->file())
{
    const core::ModelEnvironment environment = m_session->model().environment();
    setAttribute(Qt::WA_DeleteOnClose);
    setMinimumSize(520, 360);
    resize(882, 916);
    if (const auto frame = environment.store.string(kWindowFrameKey))
        restoreGeometry(QByteArray::fromBase64(frame->toLatin1()));

    m_model = &m_session->model();

    m_split = new QSplitter(Qt::Horizontal, this);
    m_split->setChildrenCollapsible(false);
    m_editor = new editor::MarkdownTextView(m_split);
    m_editor->setMinimumWidth(260);
    m_editor->setEditorFontSize(environment.appearance.editorFontSize());
    m_editor->setPlaceholderText(tr("Start writing\u2026"));
    m_editor->setImageSaver([model = m_model](const QImage &image) { return model->saveImage(image); });

    auto *placeholder = new QLabel(tr("The rendered view is on its way.\n"
                                      "Press Ctrl+4 to edit the source."),
                                   m_split);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setMinimumWidth(260);
    placeholder->setEnabled(false);
    m_placeholder = placeholder;

    m_banner = new ReloadBanner(*m_model, this);
    m_columns = new QSplitter(Qt::Horizontal, this);
    m_columns->setChildrenCollapsible(false);
    m_outline = new OutlineSidebar(*m_model, m_columns);
    m_outline->setMinimumWidth(180);
    m_outline->setMaximumWidth(360);
    auto *centre = new QWidget(m_columns);
    auto *column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_banner);
    column->addWidget(m_split, 1);
    m_columns->addWidget(m_outline);
    m_columns->addWidget(centre);
    m_columns->setStretchFactor(1, 1);
    m_columns->setSizes({230, 652});
    setCentralWidget(m_columns);
    m_findBar = new FindBar(*m_model, m_split);
    m_sourceFindBar = new SourceFindBar(m_editor, m_split);
    connect(m_model, &DocumentModel::textFinderActionRequested, m_sourceFindBar,
            &SourceFindBar::perform);

    // The counts and the save state live in our own bar; the window's bar around it still
    // shows passing messages (an export under way) and the file's encoding.
    m_status = new StatusBar(*m_model, this);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setContentsMargins(0, 0, 0, 0);

    buildActions();
    buildToolbar();
    wire();
    qApp->installEventFilter(this);
}

DocumentWindow::~DocumentWindow()
{
    // The source bar watches the editor; it must not see the editor's own teardown.
    delete m_sourceFindBar;
    // The model's page lives in this window's layout; it goes before the widgets around it.
    m_model = nullptr;
    m_session.reset();
}

void DocumentWindow::buildActions()
{
    DocumentModel &model = *m_model;
    themes::Appearance &appearance = model.environment().appearance;

    auto *file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&New"), QKeySequence::New, this,
                    [] { DocumentController::shared().newDocument(); });
    file->addAction(tr("&Open\u2026"), QKeySequence::Open, this,
                    [this] { DocumentController::shared().showOpenDialog(this); });
    file->addSeparator();
    auto *save = file->addAction(tr("&Save"), this, [this] { m_model->saveNow(); });
    save->setShortcut(QKeySequence::Save);
    auto *reload = file->addAction(tr("&Reload from Disk"), QKeySequence(Qt::CTRL | Qt::Key_R),
                                   this, [this] { m_model->reloadFromDisk(); });
    file->addSeparator();
    auto *exports = file->addMenu(tr("&Export"));
    exports->addAction(tr("&PDF\u2026"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this,
                       [this] { exporter::exportPDF(*m_model); });
    exports->addAction(tr("&HTML\u2026"), this, [this] { exporter::exportHTML(*m_model); });
    exports->addAction(tr("&Word (.docx)\u2026"), this,
                       [this] { exporter::exportDOCX(*m_model); });
    file->addAction(tr("&Print\u2026"), QKeySequence::Print, this,
                    [this] { exporter::printDocument(*m_model); });
    file->addSeparator();
    file->addAction(tr("&Close"), QKeySequence::Close, this, &QWidget::close);
    file->addAction(tr("&Quit"), QKeySequence::Quit, qApp, &QApplication::closeAllWindows);
    // A file to reload exists only once the note has one.
    const auto updateReload = [this, reload] { reload->setEnabled(!m_model->fileUrl().isEmpty()); };
    connect(&model, &DocumentModel::fileUrlChanged, reload, updateReload);
    updateReload();

    auto *edit = menuBar()->addMenu(tr("&Edit"));
    const struct
    {
        const char *label;
        void (DocumentModel::*command)();
        QList<QKeySequence> keys;
    } finds[] = {
        {"&Find\u2026", &DocumentModel::find, {QKeySequence::Find}},
        {"Find &Next", &DocumentModel::findNext, {Qt::Key_F3, Qt::CTRL | Qt::Key_G}},
        {"Find Pre&vious", &DocumentModel::findPrevious,
         {Qt::SHIFT | Qt::Key_F3, Qt::CTRL | Qt::SHIFT | Qt::Key_G}},
    };
    for (const auto &entry : finds) {
        auto *action = edit->addAction(tr(entry.label), m_model, entry.command);
        action->setShortcuts(entry.keys);
    }
    edit->addSeparator();
    // Where Linux programs keep it.
    edit->addAction(tr("Pr&eferences\u2026"), QKeySequence(Qt::CTRL | Qt::Key_Comma), this,
                    [] { SettingsWindow::showShared(); });
    m_editMenu = edit;

    // Markdown formatting: on the page in the editing view, in the source everywhere else.
    auto *format = menuBar()->addMenu(tr("F&ormat"));
    const struct
    {
        const char *label;
        const char *command;
        const char *prefix;
        const char *suffix;
        QKeySequence key;
    } inlines[] = {
        {"&Bold", "bold", "**", "**", QKeySequence(Qt::CTRL | Qt::Key_B)},
        {"&Italic", "italic", "*", "*", QKeySequence(Qt::CTRL | Qt::Key_I)},
        {"&Code", "code", "`", "`", QKeySequence(Qt::CTRL | Qt::Key_QuoteLeft)},
        {"&Link\u2026", "link", "[", "", QKeySequence(Qt::CTRL | Qt::Key_K)},
        {"&Highlight", "mark", "==", "==", {}},
        {"&Strikethrough", "strike", "~~", "~~", {}},
    };
    for (const auto &entry : inlines) {
        format->addAction(tr(entry.label), entry.key, this,
                          [this, command = QString::fromLatin1(entry.command),
                           prefix = QString::fromLatin1(entry.prefix),
                           suffix = QString::fromLatin1(entry.suffix)] {
                              applyFormat(command, prefix, suffix);
                          });
    }
    format->addSeparator();
    using editor::BlockKind;
    for (int level = 1; level <= 6; ++level) {
        format->addAction(tr("Heading &%1").arg(level),
                          QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key(Qt::Key_0 + level)), this,
                          [this, level] {
                              applyBlockFormat(u"h%1"_s.arg(level), {BlockKind::Heading, level});
                          });
    }
    const struct
    {
        const char *label;
        const char *command;
        BlockKind kind;
        QKeySequence key;
    } blocks[] = {
        {"&Paragraph", "paragraph", BlockKind::Paragraph, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_0)},
        {"&Quote", "quote", BlockKind::Quote, {}},
        {"B&ulleted List", "ul", BlockKind::Bullet, {}},
        {"&Numbered List", "ol", BlockKind::Numbered, {}},
        {"Chec&kbox", "task", BlockKind::Task, {}},
    };
    for (const auto &entry : blocks) {
        format->addAction(tr(entry.label), entry.key, this,
                          [this, command = QString::fromLatin1(entry.command), kind = entry.kind] {
                              applyBlockFormat(command, {kind});
                          });
    }
    const auto updateFormat = [this, format] {
        // The reading view takes no edits: the menu says so rather than doing nothing.
        for (QAction *action : format->actions())
            action->setEnabled(m_model->mode() != Mode::Read);
    };
    connect(&model, &DocumentModel::modeChanged, format, updateFormat);
    updateFormat();

    auto *view = menuBar()->addMenu(tr("&View"));
    auto *modes = new QActionGroup(view);
    const struct
    {
        Mode mode;
        const char *label;
        Qt::Key key;
    } modeItems[] = {{Mode::Read, "&Reading View", Qt::Key_1},
                     {Mode::Visual, "&Editing View", Qt::Key_2},
                     {Mode::Split, "S&plit View", Qt::Key_3},
                     {Mode::Source, "So&urce View", Qt::Key_4}};
    for (const auto &entry : modeItems) {
        auto *action = view->addAction(tr(entry.label), this,
                                       [this, mode = entry.mode] { m_model->setMode(mode); });
        action->setShortcut(QKeySequence(Qt::CTRL | entry.key));
        action->setCheckable(true);
        action->setData(int(entry.mode));
        modes->addAction(action);
    }
    followMode(modes);
    view->addSeparator();
    auto *outline = view->addAction(QString(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                                    this, [this] { m_model->setShowOutline(!m_model->showOutline()); });
    auto *presentation = view->addAction(QString(), this, [this] { togglePresentation(); });
    presentation->setShortcuts({QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_P), QKeySequence(Qt::Key_F11)});
    const auto nameToggles = [this, outline, presentation] {
        outline->setText(m_model->showOutline() ? tr("Hide &Outline") : tr("Show &Outline"));
        presentation->setText(m_model->presentation() ? tr("Exit Presentation &Mode")
                                                      : tr("Presentation &Mode"));
    };
    connect(&model, &DocumentModel::showOutlineChanged, this, nameToggles);
    connect(&model, &DocumentModel::presentationChanged, this, nameToggles);
    nameToggles();
    view->addSeparator();

    addThemePicker(view->addMenu(tr("&Theme")));

    const auto step = [&appearance](auto set, auto get, auto next) {
        return [&appearance, set, get, next] { (appearance.*set)(next((appearance.*get)())); };
    };
    using themes::Appearance;
    view->addAction(tr("&Larger Text"), this,
                    step(&Appearance::setFontSize, &Appearance::fontSize, typography::larger))
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    view->addAction(tr("&Smaller Text"), QKeySequence(Qt::CTRL | Qt::Key_Minus), this,
                    step(&Appearance::setFontSize, &Appearance::fontSize, typography::smaller));
    view->addAction(tr("&Default Size"), QKeySequence(Qt::CTRL | Qt::Key_0), this, [&appearance] { typography::reset(appearance); });
    view->addAction(tr("&Narrower Content"), QKeySequence(Qt::CTRL | Qt::Key_BracketLeft), this,
                    step(&Appearance::setContentWidth, &Appearance::contentWidth, typography::narrower));
    view->addAction(tr("&Wider Content"), QKeySequence(Qt::CTRL | Qt::Key_BracketRight), this,
                    step(&Appearance::setContentWidth, &Appearance::contentWidth, typography::wider));
    view->addAction(tr("&Tighter Line Spacing"), this,
                    step(&Appearance::setLineHeight, &Appearance::lineHeight, typography::tighter));
    view->addAction(tr("L&ooser Line Spacing"), this,
                    step(&Appearance::setLineHeight, &Appearance::lineHeight, typography::looser));
    view->addSeparator();
    auto *statusToggle = view->addAction(tr("Status &Bar"));
    statusToggle->setCheckable(true);
    statusToggle->setChecked(appearance.showStatusBar());
    connect(statusToggle, &QAction::toggled, &appearance, &Appearance::setShowStatusBar);
    connect(&appearance, &Appearance::showStatusBarChanged, statusToggle, &QAction::setChecked);

    // Linux has no application menu: what it would hold goes to Help.
    m_helpMenu = menuBar()->addMenu(tr("&Help"));
    m_helpMenu->addAction(tr("Send &Feedback\u2026"), this, [] { support::openFeedback(); });
    m_helpMenu->addAction(tr("&Support Quorvel\u2026"), this, [] { support::openSupport(); });
    m_helpMenu->addSeparator();
    auto *updates = m_helpMenu->addAction(tr("Check for &Updates\u2026"), this,
                                          [] { Updater::shared().checkNow(); });
    updates->setEnabled(Updater::shared().canCheck());
    connect(&Updater::shared(), &Updater::canCheckChanged, updates, &QAction::setEnabled);
}

bool DocumentWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride || !watched->isWidgetType()
        || !isAncestorOf(static_cast<QWidget *>(watched)))
        return QMainWindow::eventFilter(watched, event);
    const auto combo = static_cast<QKeyEvent *>(event)->keyCombination();
    // Ctrl+K is "delete to the end of the line" to both the web engine and the text editor on
    // Linux; with a word selected it deleted the word. Here it is Format › Link in every view:
    // refusing the override lets the shortcut have it.
    if (combo == QKeyCombination(Qt::ControlModifier, Qt::Key_K)) {
        event->ignore();
        return true;
    }
    // In the editing view the page formats on its own keys, as one step that Ctrl+Z takes back;
    // the Format menu's shortcuts must not take those keys from it.
    if (m_model->mode() == Mode::Visual && m_preview
        && m_preview->isAncestorOf(static_cast<QWidget *>(watched))
        && combo.keyboardModifiers() == Qt::ControlModifier
        && (combo.key() == Qt::Key_B || combo.key() == Qt::Key_I)) {
        event->accept();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void DocumentWindow::followMode(QActionGroup *modes)
{
    const auto mark = [this, modes] {
        for (QAction *action : modes->actions())
            action->setChecked(action->data().toInt() == int(m_model->mode()));
    };
    connect(m_model, &DocumentModel::modeChanged, modes, mark);
    mark();
}

void DocumentWindow::addThemePicker(QMenu *menu)
{
    auto *group = new QActionGroup(menu);
    for (const themes::ThemeKind theme : themes::allThemes()) {
        auto *action = menu->addAction(themes::label(theme), this,
                                       [this, theme] { m_model->chooseTheme(theme); });
        action->setCheckable(true);
        action->setData(themes::rawValue(theme));
        group->addAction(action);
    }
    // The window's theme, as it is when the menu opens (another window may have changed it).
    connect(menu, &QMenu::aboutToShow, menu, [this, group] {
        for (QAction *action : group->actions())
            action->setChecked(action->data().toString() == themes::rawValue(m_model->theme()));
    });
}

void DocumentWindow::buildToolbar()
{
    DocumentModel &model = *m_model;
    m_toolbar = addToolBar(tr("Document"));
    m_toolbar->setObjectName(QStringLiteral("documentToolbar"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setIconSize(QSize(16, 16));
    m_toolbar->toggleViewAction()->setVisible(false);
    m_toolbar->setContentsMargins(6, 2, 6, 2);

    const auto addIcon = [this](QAction *action, const QString &icon) {
        m_toolbarIcons.append({action, icon});
        return action;
    };

    // The views, in the order of the switcher: reading, editing, source, split.
    auto *modes = new QActionGroup(m_toolbar);
    const struct
    {
        Mode mode;
        const char *icon;
        const char *help;
    } switcher[] = {{Mode::Read, "read", "Reading View (Ctrl+1)"},
                    {Mode::Visual, "edit", "Editing View (Ctrl+2)"},
                    {Mode::Source, "source", "Source View (Ctrl+4)"},
                    {Mode::Split, "split", "Split View (Ctrl+3)"}};
    for (const auto &entry : switcher) {
        auto *action = addIcon(m_toolbar->addAction(QString(), this,
                                                    [this, mode = entry.mode] { m_model->setMode(mode); }),
                               QString::fromLatin1(entry.icon));
        action->setToolTip(tr(entry.help));
        action->setCheckable(true);
        action->setData(int(entry.mode));
        modes->addAction(action);
    }
    followMode(modes);
    m_toolbar->addSeparator();

    auto *openMenu = new QMenu(this);
    // Rebuilt each time it opens: another window may have opened a file since.
    connect(openMenu, &QMenu::aboutToShow, openMenu, [this, openMenu] {
        openMenu->clear();
        openMenu->addAction(tr("Open\u2026"), this,
                            [this] { DocumentController::shared().showOpenDialog(this); });
        const QStringList recent = DocumentController::shared().recentDocuments();
        if (!recent.isEmpty())
            openMenu->addSeparator();
        for (const QString &path : recent) {
            auto *item = openMenu->addAction(QFileInfo(path).fileName(), this,
                                             [path] { DocumentController::shared().openDocument(path); });
            item->setToolTip(path);
        }
    });
    auto *open = addIcon(openMenu->menuAction(), QStringLiteral("open"));
    open->setText(tr("Open"));
    open->setToolTip(tr("Open (Ctrl+O)"));
    connect(open, &QAction::triggered, this, [this] { DocumentController::shared().showOpenDialog(this); });
    m_toolbar->addAction(open);
    auto *save = addIcon(m_toolbar->addAction(tr("Save"), this, [this] { m_model->saveNow(); }),
                         QStringLiteral("save"));
    save->setToolTip(tr("Save (Ctrl+S)"));
    auto *exportMenu = new QMenu(this);
    exportMenu->addAction(tr("PDF\u2026"), this, [this] { exporter::exportPDF(*m_model); });
    exportMenu->addAction(tr("HTML\u2026"), this, [this] { exporter::exportHTML(*m_model); });
    exportMenu->addAction(tr("Word (.docx)\u2026"), this, [this] { exporter::exportDOCX(*m_model); });
    exportMenu->addSeparator();
    exportMenu->addAction(tr("Print\u2026"), this, [this] { exporter::printDocument(*m_model); });
    auto *exports = addIcon(exportMenu->menuAction(), QStringLiteral("export"));
    exports->setText(tr("Export"));
    exports->setToolTip(tr("Export"));
    m_toolbar->addAction(exports);
    for (QAction *withMenu : {open, exports}) {
        if (auto *button = qobject_cast<QToolButton *>(m_toolbar->widgetForAction(withMenu))) {
            button->setPopupMode(QToolButton::InstantPopup);
            // Fusion draws the menu arrow under the label, where it reads as a stray mark.
            button->setStyleSheet(kMenuButtonStyle);
        }
    }

    // The title in the middle: the file's name, and a dot while there are unsaved changes.
    auto *left = new QWidget(m_toolbar);
    left->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(left);
    m_titleLabel = new QLabel(m_toolbar);
    m_titleLabel->setAlignment(Qt::AlignCenter);
    m_toolbar->addWidget(m_titleLabel);
    auto *right = new QWidget(m_toolbar);
    right->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_toolbar->addWidget(right);

    auto *find = addIcon(m_toolbar->addAction(QString(), m_model, &DocumentModel::find),
                         QStringLiteral("find"));
    find->setToolTip(tr("Find (Ctrl+F)"));
    const struct
    {
        const char *icon;
        const char *help;
        const char *command;
        const char *mark;
    } buttons[] = {{"bold", "Bold (Ctrl+B)", "bold", "**"},
                   {"italic", "Italic (Ctrl+I)", "italic", "*"},
                   {"strike", "Strikethrough", "strike", "~~"}};
    QList<QAction *> formatActions;
    for (const auto &entry : buttons) {
        auto *action = addIcon(
            m_toolbar->addAction(QString(), this,
                                 [this, command = QString::fromLatin1(entry.command),
                                  mark = QString::fromLatin1(entry.mark)] {
                                     applyFormat(command, mark, mark);
                                 }),
            QString::fromLatin1(entry.icon));
        action->setToolTip(tr(entry.help));
        formatActions.append(action);
    }
    const auto updateFormat = [this, formatActions] {
        for (QAction *action : formatActions)
            action->setEnabled(m_model->mode() != Mode::Read);
    };
    connect(&model, &DocumentModel::modeChanged, this, updateFormat);
    updateFormat();

    auto *settingsMenu = new QMenu(this);
    addThemePicker(settingsMenu->addMenu(tr("Theme")));
    settingsMenu->addSeparator();
    themes::Appearance &appearance = model.environment().appearance;
    settingsMenu->addAction(tr("Larger Text"), this, [&appearance] {
        appearance.setFontSize(typography::larger(appearance.fontSize()));
    });
    settingsMenu->addAction(tr("Smaller Text"), this, [&appearance] {
        appearance.setFontSize(typography::smaller(appearance.fontSize()));
    });
    settingsMenu->addAction(tr("Reset Typography"), this, [&appearance] { typography::reset(appearance); });
    settingsMenu->addSeparator();
    settingsMenu->addAction(tr("Full-Screen Presentation"), this, [this] {
        m_model->setMode(Mode::Read);
        m_model->setPresentation(true);
    });
    settingsMenu->addSeparator();
    settingsMenu->addAction(tr("Settings\u2026"), this, [] { SettingsWindow::showShared(); });
    auto *settings = addIcon(settingsMenu->menuAction(), QStringLiteral("settings"));
    settings->setText(tr("Settings"));
    settings->setToolTip(tr("Theme and Settings"));
    m_toolbar->addAction(settings);
    if (auto *button = qobject_cast<QToolButton *>(m_toolbar->widgetForAction(settings))) {
        button->setPopupMode(QToolButton::InstantPopup);
        // The gear says "menu" by itself; the arrow would only crowd it.
        button->setStyleSheet(kMenuButtonStyle);
    }
    m_labelled = {open, save, exports};
    paintToolbarIcons();
    refreshToolbar();
}

void DocumentWindow::paintToolbarIcons()
{
    if (!m_toolbar)
        return;
    // Drawn from SVG: only when the colours change, never at each step of a resize.
    const QColor ink = palette().color(QPalette::ButtonText);
    for (const auto &[action, icon] : m_toolbarIcons) {
        action->setIcon(themedIcon(icon, ink));
        // A button with a style sheet takes its text colour from the sheet, not the palette.
        if (auto *button = m_toolbar->widgetForAction(action); button && !button->styleSheet().isEmpty())
            button->setStyleSheet(kMenuButtonStyle + QStringLiteral(" QToolButton { color: %1; }").arg(ink.name()));
    }
}

void DocumentWindow::refreshToolbar()
{
    if (!m_toolbar)
        return;
    // Labels beside Open, Save and Export only while the window has room for them.
    const bool wide = typography::wideToolbar(width(), m_model->showOutline());
    for (QAction *action : m_labelled) {
        if (auto *button = qobject_cast<QToolButton *>(m_toolbar->widgetForAction(action)))
            button->setToolButtonStyle(wide ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly);
    }
    const QString name = m_document->isUntitled() ? tr("Untitled") : QFileInfo(filePath()).fileName();
    QColor secondary = palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.6f);
    const QString dot = m_model->dirty()
        ? QStringLiteral("<span style=\"color:%1\">\u25CF</span>&nbsp;&nbsp;")
              .arg(palette().color(QPalette::Highlight).name())
        : QString();
    const int room = wide ? 320 : 150;
    const QString shown = m_titleLabel->fontMetrics().elidedText(name, Qt::ElideMiddle, room - 20);
    m_titleLabel->setFixedWidth(room);
    m_titleLabel->setText(QStringLiteral("%1<span style=\"color:%2\">%3</span>")
                              .arg(dot, secondary.name(QColor::HexArgb), shown.toHtmlEscaped()));
}

bool DocumentWindow::formatElsewhere(const QString &command)
{
    // The reading view takes no edits; the editing view formats on the page itself.
    if (m_model->mode() == Mode::Visual) {
        if (auto *controller = preview::PreviewController::of(*m_model))
            controller->format(command);
    }
    return m_model->mode() == Mode::Read || m_model->mode() == Mode::Visual;
}

void DocumentWindow::applyFormat(const QString &command, const QString &prefix,
                                 const QString &suffix)
{
    if (formatElsewhere(command))
        return;
    if (command == u"link") {
        // The same question the page asks, so that Link reads the same in every view.
        const auto address = preview::PreviewController::askText(this, tr("Link address"),
                                                                 QStringLiteral("https://"));
        m_editor->setFocus();
        if (address && !address->trimmed().isEmpty())
            m_editor->wrapSelection(prefix, u"]("_s + address->trimmed() + u')');
        return;
    }
    m_editor->wrapSelection(prefix, suffix);
    m_editor->setFocus();
}

void DocumentWindow::applyBlockFormat(const QString &command, editor::BlockFormat format)
{
    if (formatElsewhere(command))
        return;
    m_editor->formatLines(format);
    m_editor->setFocus();
}

void DocumentWindow::togglePresentation()
{
    // Presentation is for reading: it starts in the reading view and leaves the view as it is.
    if (!m_model->presentation())
        m_model->setMode(Mode::Read);
    m_model->setPresentation(!m_model->presentation());
}

void DocumentWindow::wire()
{
    DocumentModel &model = *m_model;
    m_document->setPrompter(this);
    connect(&model, &DocumentModel::windowAppearanceChanged, this,
            &DocumentWindow::applyThemeAppearance);
    connect(&model, &DocumentModel::attentionRequested, this,
            [this] { QApplication::alert(this); });
    connect(&model, &DocumentModel::alertRequested, this,
            [this](const QString &message, const QString &informativeText) {
                QMessageBox box(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::Ok,
                                this);
                box.setInformativeText(informativeText);
                box.exec();
            });
    model.setWindow(this);
    model.resolveFileTheme();

    // The source editor takes a while to take in a large note; the page, in a process of its
    // own, is given the text first and renders meanwhile.
    if (model.mode() != Mode::Source) {
        showPreview();
        updatePreview();
    }
    m_editorController = new editor::EditorController(model, *m_editor, this);
    // A long note goes into the editor once the page has rendered its first screen and had a
    // moment to draw it, in one go: filled in meanwhile, or in slices while the page builds the
    // rest, it kept the page's work, which needs this thread too, waiting for seconds.
    if (auto *controller = m_preview ? preview::PreviewController::of(model) : nullptr;
        controller && !m_editorController->isFilled()) {
        m_editorController->pauseFilling();
        auto rendered = std::make_shared<QMetaObject::Connection>();
        *rendered = connect(controller, &preview::PreviewController::messageReceived,
                            m_editorController, [this, rendered](const QString &type) {
                                if (type != u"rendered")
                                    return;
                                disconnect(*rendered);
                                QTimer::singleShot(kEditorFillDelay, m_editorController,
                                                   &editor::EditorController::finishFilling);
                            });
        // Another view: the user is about to work in the source, or it no longer waits on the
        // page.
        connect(&model, &DocumentModel::modeChanged, m_editorController,
                &editor::EditorController::finishFilling);
        QTimer::singleShot(kEditorFillLimit, m_editorController,
                           &editor::EditorController::finishFilling);
    } else {
        // Nothing else to show: the source is what the user waits for.
        m_editorController->finishFilling();
    }

    connect(&model, &DocumentModel::modeChanged, this, &DocumentWindow::applyMode);
    // The preview follows the text by itself; the window tells it of the folder, the theme and
    // the mode.
    connect(&model, &DocumentModel::fileUrlChanged, this, &DocumentWindow::schedulePreviewUpdate);
    connect(&model, &DocumentModel::fileThemeChanged, this,
            &DocumentWindow::schedulePreviewUpdate);
    auto &appearance = model.environment().appearance;
    connect(&appearance, &themes::Appearance::themeChanged, this,
            &DocumentWindow::schedulePreviewUpdate);
    for (auto signal : {&themes::Appearance::fontSizeChanged,
                        &themes::Appearance::contentWidthChanged,
                        &themes::Appearance::lineHeightChanged})
        connect(&appearance, signal, this, &DocumentWindow::schedulePreviewUpdate);
    connect(&appearance, &themes::Appearance::themePerFileChanged, this,
            &DocumentWindow::schedulePreviewUpdate);
    connect(&appearance, &themes::Appearance::fontFamilyChanged, this,
            &DocumentWindow::schedulePreviewUpdate);
    connect(&appearance, &themes::Appearance::editorFontSizeChanged, m_editor,
            &editor::MarkdownTextView::setEditorFontSize);
    connect(&m_session->text(), &core::DocumentText::edited, m_status, &StatusBar::textChanged);
    connect(&model, &DocumentModel::editorScrollRequested, m_editorController,
            &editor::EditorController::scrollToFraction);
    connect(&model, &DocumentModel::dirtyChanged, this, &DocumentWindow::refreshToolbar);
    connect(&model, &DocumentModel::fileUrlChanged, this, &DocumentWindow::refreshToolbar);
    connect(&model, &DocumentModel::showOutlineChanged, this, &DocumentWindow::refreshToolbar);
    connect(&model, &DocumentModel::showOutlineChanged, this, &DocumentWindow::updateChrome);
    connect(&model, &DocumentModel::presentationChanged, this, &DocumentWindow::updateChrome);
    connect(&appearance, &themes::Appearance::showStatusBarChanged, this,
            &DocumentWindow::updateChrome);
    connect(m_outline, &OutlineSidebar::headingChosen, this, &DocumentWindow::showHeading);
    connect(&model, &DocumentModel::fileUrlChanged, this, [this] {
        updateTitle();
    });
    connect(m_document, &core::DocumentFile::editedChanged, this, &DocumentWindow::updateTitle);
    connect(m_document, &core::DocumentFile::filePathChanged, this,
            &DocumentWindow::filePathChanged);

    wireFileSafety();
    // Nothing to read: a new or empty note opens ready for typing, whatever view the last
    // window was in, and without making that the view of the next.
    if (model.mode() == Mode::Read && model.text().isEmpty())
        model.setMode(Mode::Visual, false);
    applyMode();
    updateTitle();
    updateChrome();
    applyThemeAppearance();
}

void DocumentWindow::applyMode()
{
    const Mode mode = m_model->mode();
    // Each view has its own find: the page's bar goes when the page goes, and the other way.
    if (mode == Mode::Source && m_model->showFind())
        m_model->closeFind();
    if (mode != Mode::Source && m_sourceFindBar->isVisible())
        m_sourceFindBar->close();
    if (mode != Mode::Source)
        showPreview();
    QWidget *preview = m_preview ? m_preview.data() : m_placeholder;
    m_editor->setVisible(mode == Mode::Split || mode == Mode::Source || !preview);
    if (preview)
        preview->setVisible(mode != Mode::Source);
    if (mode == Mode::Split) {
        const int half = std::max(m_split->width() / 2, 260);
        m_split->setSizes({half, half});
        // Entering split view, the page comes to where the source is.
        if (m_editorController)
            m_model->editorScrolled(m_editorController->scrollFraction());
    }
    if (m_editor->isVisible())
        m_editor->setFocus();
    else if (preview)
        preview->setFocus();
    schedulePreviewUpdate();
}

void DocumentWindow::showPreview()
{
    if (m_preview)
        return;
    // Made on first use, then kept: the same page serves every later mode.
    auto *controller = preview::PreviewController::of(*m_model);
    if (!controller || !controller->webView())
        return;
    m_preview = controller->webView();
    core::previewLog(QStringLiteral("makeNSView (superview: ")
                     + (m_preview->parentWidget() ? QStringLiteral("true") : QStringLiteral("false"))
                     + u')');
    // The splitter hands the placeholder back without a parent.
    delete m_split->replaceWidget(m_split->indexOf(m_placeholder), m_preview);
    m_placeholder = nullptr;
    applyThemeAppearance();
}

void DocumentWindow::schedulePreviewUpdate()
{
    // Coalesced like a view update: one update after a burst of changes (a reload raises the
    // external version, then sets the text) sees them all at once.
    if (m_previewUpdateQueued)
        return;
    m_previewUpdateQueued = true;
    QMetaObject::invokeMethod(this, &DocumentWindow::updatePreview, Qt::QueuedConnection);
}

void DocumentWindow::updatePreview()
{
    m_previewUpdateQueued = false;
    auto *controller = m_preview ? preview::PreviewController::of(*m_model) : nullptr;
    if (!controller)
        return;
    // The first text of a page goes at once: waiting 0.12 s for more typing would only delay
    // the window's first render.
    controller->update(!std::exchange(m_previewHasText, true));
}

void DocumentWindow::updateTitle()
{
    const QString name = m_document->isUntitled() ? tr("Untitled")
                                                  : QFileInfo(filePath()).fileName();
    setWindowTitle(name + QStringLiteral("[*] \u2014 Quorvel"));
    setWindowModified(m_document->isDocumentEdited());
}

void DocumentWindow::updateChrome()
{
    const themes::Appearance &appearance = m_model->environment().appearance;
    const bool presenting = m_model->presentation();
    statusBar()->setVisible(appearance.showStatusBar() && !presenting);
    if (m_toolbar)
        m_toolbar->setVisible(!presenting);
    // Presentation and full screen go together: entering one enters the other, and leaving
    // full screen by any means leaves presentation.
    if (presenting && m_model->showOutline())
        m_model->setShowOutline(false);
    if (presenting != isFullScreen())
        presenting ? showFullScreen() : showNormal();
    m_outline->setVisible(m_model->showOutline());
}

void DocumentWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        paintToolbarIcons();
        refreshToolbar();
    }
    else if (event->type() == QEvent::WindowStateChange && !isFullScreen() && m_model
             && m_model->presentation())
        m_model->setPresentation(false);
}

void DocumentWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    refreshToolbar();
}

void DocumentWindow::showHeading(const core::OutlineItem &item)
{
    if (m_model->mode() != Mode::Source)
        m_model->preview().scrollToHeading(item.id);
    if (m_editor->isVisible())
        m_editor->scrollToHeading(item.level, item.text);
}

void DocumentWindow::applyThemeAppearance()
{
    const themes::ThemeKind theme = m_model->theme();
    setPalette(chromePalette(theme));
    // Menus are windows of their own, and a palette does not flow into other windows.
    for (QMenu *menu : findChildren<QMenu *>())
        menu->setPalette(palette());
    QPalette editor = palette();
    if (const auto colors = themes::editorColors(theme)) {
        editor.setColor(QPalette::Base, colors->background);
        editor.setColor(QPalette::Text, colors->text);
        editor.setColor(QPalette::Window, colors->background);
    }
    m_editor->setPalette(editor);
    if (m_placeholder) {
        m_placeholder->setPalette(editor);
        m_placeholder->setAutoFillBackground(true);
    }
    // The page shows this colour until it paints.
    if (m_preview)
        m_preview->setPalette(editor);
    QPalette banner = palette();
    banner.setColor(QPalette::Window, banner.color(QPalette::Window).darker(
                                          themes::windowAppearance(theme)
                                                  == themes::WindowAppearance::Dark
                                              ? 80
                                              : 104));
    m_banner->setPalette(banner);
}

bool DocumentWindow::prepareToClose()
{
    // An edit typed on the page moments ago is still in the page; it must reach the text before
    // the window decides whether there is anything to save, and before the page goes with it.
    if (auto *controller = preview::PreviewController::of(*m_model))
        controller->flushEditsNow();
    if (!m_document->isUntitled()) {
        if (!m_document->isDocumentEdited())
            return true;
        m_model->saveNow();
        if (!m_document->isDocumentEdited())
            return true;
        const auto answer = QMessageBox::warning(
            this, tr("Quorvel"),
            tr("\u201C%1\u201D could not be saved.").arg(QFileInfo(filePath()).fileName()),
            QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
        return answer == QMessageBox::Discard;
    }
    if (m_session->text().isEmpty())
        return true;
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"),
                    tr("Do you want to save the changes you made to this new document?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setInformativeText(tr("Your changes will be lost if you don\u2019t save them."));
    box.setDefaultButton(QMessageBox::Save);
    box.button(QMessageBox::Discard)->setText(tr("Don\u2019t Save"));
    switch (box.exec()) {
    case QMessageBox::Save:
        m_model->saveNow();
        return !m_document->isUntitled() && !m_document->isDocumentEdited();
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void DocumentWindow::closeEvent(QCloseEvent *event)
{
    if (!prepareToClose()) {
        event->ignore();
        return;
    }
    // Every document window shares one remembered frame: the next one opens where this was.
    if (!isFullScreen())
        m_model->environment().store.setValue(kWindowFrameKey,
                                              QString::fromLatin1(saveGeometry().toBase64()));
    event->accept();
}

std::optional<QString> DocumentWindow::askSavePath(const core::DocumentFile &)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QString path = QFileDialog::getSaveFileName(this, tr("Save"), dir + QStringLiteral("/Untitled.md"),
                                                tr("Markdown (*.md *.markdown);;Text (*.txt)"));
    if (path.isEmpty())
        return std::nullopt;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".md");
    return path;
}

bool DocumentWindow::confirmOverwriteNewerFile(const core::DocumentFile &document)
{
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"),
                    tr("The file \u201C%1\u201D has been changed by another application since you "
                       "opened or saved it.")
                        .arg(QFileInfo(document.filePath()).fileName()),
                    QMessageBox::Save | QMessageBox::Cancel, this);
    box.setInformativeText(tr("Saving replaces the other application\u2019s version."));
    box.button(QMessageBox::Save)->setText(tr("Save Anyway"));
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Save;
}

void DocumentWindow::reportSaveError(const core::DocumentFile &, const QString &message)
{
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::Ok, this);
    box.setInformativeText(tr("Your text is still here; it is saved again after your next change "
                              "or with Ctrl+S."));
    box.exec();
}

bool DocumentWindow::confirmConvertToUtf8(const core::DocumentFile &document)
{
    QMessageBox box(QMessageBox::Warning, tr("Quorvel"),
                    tr("\u201C%1\u201D is saved as %2, which cannot hold some of the characters "
                       "you typed.")
                        .arg(QFileInfo(document.filePath()).fileName(),
                             document.text().encoding().name()),
                    QMessageBox::Save | QMessageBox::Cancel, this);
    box.setInformativeText(tr("Convert the file to UTF-8 and save it? Its other accented "
                              "characters are rewritten in UTF-8 too. Cancel keeps your text "
                              "unsaved in this window."));
    box.button(QMessageBox::Save)->setText(tr("Convert to UTF-8"));
    // Typing goes on while the question is up; a stray Return must not convert the file.
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Save;
}

void DocumentWindow::wireFileSafety()
{
    m_encodingLabel = new QLabel(this);
    statusBar()->insertPermanentWidget(0, m_encodingLabel);
    connect(&m_session->text(), &core::DocumentText::encodingChanged, this,
            &DocumentWindow::showEncoding);
    showEncoding();
    const core::TextEncoding encoding = m_session->text().encoding();
    if (!encoding.isUtf8())
        statusBar()->showMessage(tr("This file is not UTF-8: it is read and saved as %1.")
                                     .arg(encoding.name()),
                                 10000);
}

void DocumentWindow::showEncoding()
{
    const core::TextEncoding encoding = m_session->text().encoding();
    m_encodingLabel->setText(encoding.name());
    m_encodingLabel->setToolTip(tr("This file is not UTF-8. It is saved back as %1, so that "
                                   "every byte you do not edit stays as it was.")
                                    .arg(encoding.name()));
    m_encodingLabel->setVisible(!encoding.isUtf8());
}

} // namespace quorvel::app
