#include "spelling.h"
#include "documentwindow.h"

#include "chromepalette.h"

#include "core/debuglog.h"
#include "core/documenttext.h"
#include "documentcontroller.h"
#include "documentmenus.h"
#include "documenttoolbar.h"
#include "editor/editorcontroller.h"
#include "editor/markdowntextview.h"
#include "editor/spellchecker.h"
#include "findbar.h"
#include "preview/previewcontroller.h"
#include "preview/quorvelwebview.h"
#include "reloadbanner.h"
#include "outlinesidebar.h"
#include "backlinkspanel.h"
#include "quickopen.h"
#include "vaultsearchpanel.h"
#include "vault/searchindex.h"
#include "sourcefindbar.h"
#include "statusbar.h"
#include "textcounts.h"
#include "themes/appearance.h"
#include "themes/settingsstore.h"

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QKeyEvent>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QIcon>
#include <QImage>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>

#include <functional>

namespace quorvel::app {

using namespace Qt::StringLiterals;
using core::DocumentModel;
using Mode = core::DocumentModel::Mode;

namespace {

const QString kWindowFrameKey = QStringLiteral("windowFrame");

// How long a long note's source waits for the page's first screen at most, and after it.
constexpr std::chrono::milliseconds kEditorFillLimit{3000};
constexpr std::chrono::milliseconds kEditorFillDelay{100};
// How long keys typed into the source wait at most for the page to say where its caret was.
constexpr int kCaretAnswerMs = 500;

struct ClipboardContent
{
    bool text = false;
    bool image = false;
};

ClipboardContent clipboardContent()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return {};
    return {data->hasText() && !data->text().isEmpty(), data->hasImage()};
}

// The page's web engine page once the page exists.
QWebEnginePage *pageOf(core::DocumentModel &model)
{
    auto *controller = preview::PreviewController::of(model);
    return controller && controller->webView() ? controller->webView()->page() : nullptr;
}

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
    m_editor->setAccessibleName(tr("Source"));
    m_editor->setAccessibleDescription(tr("The note's Markdown source"));
    // Spelling follows the preferences in every window at once, in the note's own language.
    const auto followSpelling = [this, &appearance = environment.appearance] {
        const QString language = Spelling::shared().languageOf(m_model->text().text());
        m_editor->setSpellCheckerSource(
            appearance.checkSpelling()
                ? std::function<editor::SpellChecker *()>([language] { return Spelling::shared().checker(language); })
                : nullptr);
    };
    connect(&environment.appearance, &themes::Appearance::checkSpellingChanged, this, followSpelling);
    connect(&environment.appearance, &themes::Appearance::spellingLanguageChanged, this, followSpelling);
    connect(&Spelling::shared(), &Spelling::wordsChanged, m_editor, &editor::MarkdownTextView::checkSpelling);
    followSpelling();
    m_editor->setImageSaver([model = m_model](const QImage &image) { return model->saveImage(image); });

    auto *placeholder = new QLabel(tr("The rendered view is on its way.\n"
                                      "Press Ctrl+4 to edit the source."),
                                   m_split);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setMinimumWidth(260);
    placeholder->setEnabled(false);
    m_placeholder = placeholder;

    m_banner = new ReloadBanner(*m_model, *m_document, this);
    m_columns = new QSplitter(Qt::Horizontal, this);
    m_columns->setChildrenCollapsible(false);
    m_search = new VaultSearchPanel(m_columns);
    m_search->setMinimumWidth(220);
    m_search->setMaximumWidth(420);
    m_search->hide();
    m_sidebar = new QSplitter(Qt::Vertical, m_columns);
    m_sidebar->setChildrenCollapsible(false);
    m_sidebar->setMinimumWidth(180);
    m_sidebar->setMaximumWidth(360);
    m_outline = new OutlineSidebar(*m_model, m_sidebar);
    m_backlinks = new BacklinksPanel(m_sidebar);
    m_sidebar->addWidget(m_outline);
    m_sidebar->addWidget(m_backlinks);
    m_sidebar->setStretchFactor(0, 3);
    m_sidebar->setStretchFactor(1, 2);
    auto *centre = new QWidget(m_columns);
    auto *column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_banner);
    column->addWidget(m_split, 1);
    m_columns->addWidget(m_search);
    m_columns->addWidget(m_sidebar);
    m_columns->addWidget(centre);
    m_columns->setStretchFactor(2, 1);
    m_columns->setSizes({0, 230, 652});
    setCentralWidget(m_columns);
    // Collapsed, the outline's column goes to the page; opened again, the outline takes back the
    // width it had, not just its least. Said to the splitter outright: it does not always hear
    // of a child's new limits while the page's view is beside it.
    // The backlinks go with it: a rail holds the chevron alone.
    connect(m_outline, &OutlineSidebar::collapsedChanged, this, [this](bool collapsed) {
        const QList<int> sizes = m_columns->sizes();
        const int total = sizes.value(1) + sizes.value(2);
        const int width = collapsed ? OutlineSidebar::kRailWidth
                                    : std::clamp(m_outline->openWidth(),
                                                 OutlineSidebar::kMinimumWidth,
                                                 OutlineSidebar::kMaximumWidth);
        m_backlinks->setFolded(collapsed);
        if (collapsed)
            m_sidebar->setFixedWidth(width);
        else {
            m_sidebar->setMinimumWidth(OutlineSidebar::kMinimumWidth);
            m_sidebar->setMaximumWidth(OutlineSidebar::kMaximumWidth);
        }
        m_columns->setSizes({sizes.value(0), width, std::max(total - width, 0)});
    });
    m_findBar = new FindBar(*m_model, m_split);
    m_sourceFindBar = new SourceFindBar(m_editor, m_session->text(), m_split);
    connect(m_model, &DocumentModel::textFinderActionRequested, m_sourceFindBar,
            &SourceFindBar::perform);

    // The counts and the save state live in our own bar; the window's bar around it still
    // shows passing messages (an export under way) and the file's encoding.
    m_status = new StatusBar(*m_model, this);
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setContentsMargins(0, 0, 0, 0);

    m_menus = std::make_unique<DocumentMenus>(*this);
    m_toolbar = new DocumentToolbar(*this);
    // Tab from the toolbar's last button goes on to the outline's header and list, then to the
    // note.
    if (!m_toolbar->actions().isEmpty()) {
        QWidget *previous = m_toolbar->widgetForAction(m_toolbar->actions().constLast());
        QList<QWidget *> next;
        for (QWidget *child : m_outline->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (child->focusPolicy() & Qt::TabFocus)
                next << child;
        }
        next << m_editor;
        for (QWidget *widget : next) {
            setTabOrder(previous, widget);
            previous = widget;
        }
    }
    core::startupMark("widgets");
    wire();
    qApp->installEventFilter(this);
    core::startupMark("window");
}

QString DocumentWindow::startupTextArea() const
{
    // The top of the note's column, where its first lines appear, in window coordinates: the
    // start-up bench watches it on screen. The middle holds the placeholder's own words.
    const QRect area(m_split->mapTo(this, QPoint(0, 0)), m_split->size());
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(winId())
        .arg(area.x())
        .arg(area.y())
        .arg(area.width())
        .arg(std::min(area.height() / 4, 240));
}

DocumentWindow::~DocumentWindow()
{
    // The source bar watches the editor; it must not see the editor's own teardown.
    delete m_sourceFindBar;
    // Everything that shows the session goes before it: a widget torn down later (a scroll bar
    // moving as its editor goes) would reach for a model that is gone.
    delete m_editorController;
    m_editorController = nullptr;
    delete takeCentralWidget();
    delete m_status;
    m_model = nullptr;
    m_session.reset();
}

bool DocumentWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (leavesPresentation(watched, event))
        return true;
    if (m_awaitingCaret && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        && watched == m_editor) {
        m_heldSourceKeys.emplace_back(static_cast<QKeyEvent *>(event)->clone());
        return true;
    }
    // Typing into the editing view before its page takes it is kept for the page, not lost.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && m_preview
        && watched->isWidgetType() && m_preview->isAncestorOf(static_cast<QWidget *>(watched))) {
        if (auto *page = preview::PreviewController::of(*m_model);
            page && page->holdKey(static_cast<QWidget *>(watched), *static_cast<QKeyEvent *>(event)))
            return true;
    }
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
    const bool inPage = m_preview && m_preview->isAncestorOf(static_cast<QWidget *>(watched));
    // In the editing view the page formats on its own keys, as one step that Ctrl+Z takes back;
    // the Format menu's shortcuts must not take those keys from it.
    if (m_model->mode() == Mode::Visual && inPage
        && combo.keyboardModifiers() == Qt::ControlModifier
        && (combo.key() == Qt::Key_B || combo.key() == Qt::Key_I)) {
        event->accept();
        return true;
    }
    if (const auto page = inPage ? pageTakesKey(static_cast<QKeyEvent *>(event)) : std::nullopt) {
        event->setAccepted(*page);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool DocumentWindow::leavesPresentation(QObject *watched, QEvent *event)
{
    if (!m_model || !m_model->presentation() || !watched->isWidgetType()
        || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    auto *widget = static_cast<QWidget *>(watched);
    if (key->key() != Qt::Key_Escape || key->modifiers() != Qt::NoModifier
        || (widget != this && !isAncestorOf(widget)))
        return false;
    // An open find bar closes first, as it does outside presentation.
    for (const QWidget *bar : {static_cast<QWidget *>(m_findBar), static_cast<QWidget *>(m_sourceFindBar)})
        if (bar == widget || bar->isAncestorOf(widget))
            return false;
    // The page and the editor have uses of their own for Escape and would take it; here it is
    // the way out, in every view. Claiming the override brings the key press itself here.
    if (event->type() == QEvent::ShortcutOverride)
        event->accept();
    else
        m_model->setPresentation(false);
    return true;
}

std::optional<bool> DocumentWindow::pageTakesKey(const QKeyEvent *key) const
{
    // Ctrl+Shift+V is Paste as Plain Text, never the engine's own paste-and-match-style, whose
    // text the page would read as Markdown.
    if (key->keyCombination() == QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_V))
        return false;
    // The page undoes only while it is edited; elsewhere the Edit menu's Undo has the key, so
    // that in the split view's page it takes back a step as it does in the source.
    if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo))
        return m_model->mode() == Mode::Visual;
    // The engine's own clipboard keys act on its selection as it is at that moment; the Edit
    // menu asks for a selection the page reports a moment later, and could miss a fresh one.
    if (key->matches(QKeySequence::Cut) || key->matches(QKeySequence::Copy)
        || key->matches(QKeySequence::Paste) || key->matches(QKeySequence::SelectAll))
        return true;
    return std::nullopt;
}

bool DocumentWindow::formatElsewhere(const QString &command)
{
    // The reading view takes no edits; the editing view formats on the page itself.
    if (m_model->mode() == Mode::Visual) {
        if (auto *controller = preview::PreviewController::of(*m_model))
            controller->format(command);
    }
    // Nor does the page beside the source, when it has the focus: a word chosen there is not the
    // source's selection, and formatting the source's own (an older one, out of sight) wrote the
    // marks, and then the keys typed next, over text the user had not chosen.
    return m_model->mode() == Mode::Read || m_model->mode() == Mode::Visual
        || (m_model->mode() == Mode::Split && editsInPage());
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

bool DocumentWindow::findsInSource() const
{
    const Mode mode = m_model->mode();
    if (mode != Mode::Split)
        return mode == Mode::Source;
    // The pane with the focus; from elsewhere (the outline), the bar that is open.
    const auto within = [](const QWidget *area, const QWidget *focus) {
        return area && focus && (area == focus || area->isAncestorOf(focus));
    };
    const QWidget *focus = QApplication::focusWidget();
    if (within(m_editor, focus) || within(m_sourceFindBar, focus))
        return true;
    if (within(m_preview, focus) || within(m_findBar, focus))
        return false;
    return m_sourceFindBar->isVisible();
}

bool DocumentWindow::editsInPage() const
{
    switch (m_model->mode()) {
    case Mode::Source:
        return false;
    case Mode::Split: {
        // The source, unless the page has the focus: from elsewhere (the outline), the pane that
        // can take every command.
        const QWidget *focus = QApplication::focusWidget();
        return m_preview && focus && (m_preview == focus || m_preview->isAncestorOf(focus));
    }
    default:
        return true;
    }
}

bool DocumentWindow::canEdit(EditCommand command) const
{
    using enum EditCommand;
    const Mode mode = m_model->mode();
    if (command == Undo || command == Redo) {
        // The reading view takes no edits, not even taking one back.
        const core::DocumentText &text = m_session->text();
        return mode != Mode::Read && (command == Undo ? text.canUndo() : text.canRedo());
    }
    bool editable = false;
    bool selection = false;
    if (editsInPage()) {
        const QWebEnginePage *page = pageOf(*m_model);
        if (!page)
            return false;
        editable = mode == Mode::Visual;
        selection = page->hasSelection();
    } else {
        editable = !m_editor->isReadOnly();
        selection = m_editor->textCursor().hasSelection();
    }
    const ClipboardContent clipboard = clipboardContent();
    switch (command) {
    case Cut:
        return editable && selection;
    case Copy:
        return selection;
    case Paste:
        // Both views store a pasted picture beside the note and link it.
        return editable && (clipboard.text || clipboard.image);
    case PastePlainText:
        return editable && clipboard.text;
    case SelectAll:
        return !m_session->text().isEmpty();
    default:
        return false;
    }
}

void DocumentWindow::editCommand(EditCommand command)
{
    using enum EditCommand;
    if (!editsInPage()) {
        if (!canEdit(command))
            return;
        editInSource(command);
        return;
    }
    // The page's selection and typing reach this side a moment after they happen: a key pressed
    // right after them must not be refused on that account. The engine's own commands do nothing
    // without a selection, and the page sends its typing before it asks for an undo.
    auto *controller = preview::PreviewController::of(*m_model);
    QWebEnginePage *page = pageOf(*m_model);
    const Mode mode = m_model->mode();
    if (!controller || !page || (mode == Mode::Read && command != Copy && command != SelectAll))
        return;
    const bool editing = mode == Mode::Visual;
    switch (command) {
    case Undo:
    case Redo:
        if (editing)
            controller->requestUndo(command == Redo);
        else if (canEdit(command))
            editInSource(command);
        return;
    case PastePlainText:
        if (const QString text = QGuiApplication::clipboard()->text(); editing && !text.isEmpty())
            controller->pastePlainText(text);
        return;
    case Cut:
    case Paste:
        if (!editing)
            return;
        break;
    default:
        break;
    }
    using A = QWebEnginePage::WebAction;
    page->triggerAction(command == Cut ? A::Cut
                        : command == Copy ? A::Copy
                        : command == Paste ? A::Paste
                                           : A::SelectAll);
}

void DocumentWindow::editInSource(EditCommand command)
{
    using enum EditCommand;
    m_editor->needWholeText();
    switch (command) {
    case Undo:
    case Redo:
        // The source shows where the change was.
        if (m_editorController)
            command == Undo ? m_editorController->undo() : m_editorController->redo();
        break;
    case Cut:
        m_editor->cut();
        break;
    case Copy:
        m_editor->copy();
        break;
    case Paste:
        m_editor->paste();
        break;
    case PastePlainText:
        m_editor->insertPlainText(QGuiApplication::clipboard()->text());
        break;
    case SelectAll:
        m_editor->selectAll();
        break;
    }
}

void DocumentWindow::findCommand(FindCommand command)
{
    const bool replace = command == FindCommand::FindAndReplace;
    // The reading view takes no edits.
    if (replace && m_model->mode() == Mode::Read)
        return;
    const bool source = findsInSource();
    // One bar at a time: in split view both would stand in the same corner.
    if (source && m_model->showFind())
        m_model->closeFind();
    if (!source && m_sourceFindBar->isVisible())
        m_sourceFindBar->close();
    FindRow *bar = source ? static_cast<FindRow *>(m_sourceFindBar) : m_findBar;
    using Action = DocumentModel::TextFinderAction;
    // In the source view the model sends its source bar the command; in split view the window
    // does, since the model does not know which pane has the focus.
    const bool direct = source && m_model->mode() != Mode::Source;
    switch (command) {
    case FindCommand::Find:
    case FindCommand::FindAndReplace:
        bar->setReplaceShown(replace);
        direct ? m_sourceFindBar->perform(Action::Show) : m_model->find();
        if (replace)
            bar->focusReplaceField();
        break;
    case FindCommand::Next:
        direct ? m_sourceFindBar->perform(Action::Next) : m_model->findNext();
        break;
    case FindCommand::Previous:
        direct ? m_sourceFindBar->perform(Action::Previous) : m_model->findPrevious();
        break;
    }
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
    connect(&model, &DocumentModel::noteCreationOffered, this,
            [this](const QString &message, const QString &informativeText, const QString &path) {
                QMessageBox box(QMessageBox::Warning, tr("Quorvel"), message,
                                QMessageBox::Save | QMessageBox::Ok, this);
                box.setInformativeText(informativeText);
                box.button(QMessageBox::Save)->setText(tr("Create Note"));
                box.button(QMessageBox::Save)->setIcon(QIcon());
                box.setDefaultButton(QMessageBox::Ok);
                if (box.exec() == QMessageBox::Save)
                    m_model->createNote(path);
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
    if (auto *controller = m_preview ? preview::PreviewController::of(model) : nullptr;
        controller && !m_editorController->isFilled()) {
        m_editorController->pauseFilling();
        // Out of sight the editor stays empty until the source is first shown: its layout of a
        // long note costs about 30 MB a megabyte, held for nothing by someone who only reads.
        // Shown, the user is about to work in it: it is filled at once.
        connect(&model, &DocumentModel::modeChanged, m_editorController, [this] {
            if (m_model->mode() == Mode::Split || m_model->mode() == Mode::Source)
                m_editorController->finishFilling();
        });
        // In sight beside the page, a long note goes into the editor once the page has rendered
        // its first screen and had a moment to draw it: filled in meanwhile, it kept the page's
        // work, which needs this thread too, waiting for seconds. Then it goes in slices, each a
        // few tens of milliseconds, so that the window answers all along (in one go, a 10 MB
        // note held it for a second).
        if (model.mode() == Mode::Split) {
            auto rendered = std::make_shared<QMetaObject::Connection>();
            *rendered = connect(controller, &preview::PreviewController::messageReceived,
                                m_editorController, [this, rendered](const QString &type) {
                                    if (type != u"rendered")
                                        return;
                                    disconnect(*rendered);
                                    QTimer::singleShot(kEditorFillDelay, m_editorController,
                                                       &editor::EditorController::resumeFilling);
                                });
            QTimer::singleShot(kEditorFillLimit, m_editorController,
                               &editor::EditorController::resumeFilling);
        }
    }
    // Shown alone, a long note goes in a slice at a time from the top, where the editor opens:
    // the window answers all along, and whatever edits or finds in it first takes the rest at
    // once.

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
    wireSelectionCounts();
    connect(&model, &DocumentModel::editorScrollRequested, m_editorController,
            &editor::EditorController::scrollToFraction);
    connect(&model, &DocumentModel::showOutlineChanged, this, &DocumentWindow::refreshToolbar);
    connect(&model, &DocumentModel::showOutlineChanged, this, &DocumentWindow::updateChrome);
    connect(&model, &DocumentModel::presentationChanged, this, &DocumentWindow::updateChrome);
    connect(&appearance, &themes::Appearance::showStatusBarChanged, this,
            &DocumentWindow::updateChrome);
    connect(m_outline, &OutlineSidebar::headingChosen, this, &DocumentWindow::showHeading);
    // The source view's Add Link… asks for the address as Format › Link does.
    connect(m_editor, &editor::MarkdownTextView::linkRequested, this,
            [this] { applyFormat(u"link"_s, u"["_s, QString()); });
    connect(&model, &DocumentModel::fileUrlChanged, this, [this] {
        updateTitle();
    });
    connect(m_document, &core::DocumentFile::editedChanged, this, &DocumentWindow::updateTitle);
    connect(m_document, &core::DocumentFile::filePathChanged, this,
            &DocumentWindow::filePathChanged);
    wireVault();

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
    if (mode != Mode::Source && mode != Mode::Split && m_sourceFindBar->isVisible())
        m_sourceFindBar->close();
    if (mode != Mode::Source)
        showPreview();
    if (const auto was = std::exchange(m_shownMode, mode); was && *was != mode)
        carryCaret(*was, mode);
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
    // Not isVisible(): a window not shown yet has nothing visible, and its first view took the
    // focus to the page, where typing in the split view went nowhere.
    if (!m_editor->isHidden())
        m_editor->setFocus();
    else if (preview)
        preview->setFocus();
    schedulePreviewUpdate();
}

void DocumentWindow::carryCaret(Mode from, Mode to)
{
    auto *controller = m_preview ? preview::PreviewController::of(*m_model) : nullptr;
    if (!controller || !m_editorController)
        return;
    const bool fromSource = from == Mode::Source || from == Mode::Split;
    if (fromSource && to == Mode::Visual) {
        if (const auto caret = m_editorController->caretOffset())
            controller->enterAt(*caret);
    } else if ((from == Mode::Visual || from == Mode::Read) && (to == Mode::Source || to == Mode::Split)) {
        // From the reading view too: the editing view's caret (or a selection made while
        // reading) is still on the page, and the way back to editing comes through here.
        // The page answers a moment after the switch; keys typed meanwhile wait for its answer
        // (or a page that gives none) and go in at the caret it gives.
        releaseSourceKeys();
        m_awaitingCaret = true;
        const quint64 ask = ++m_caretAsks;
        controller->askCaret([self = QPointer(this), ask](std::optional<qsizetype> caret) {
            if (!self || self->m_caretAsks != ask)
                return;
            if (caret && self->m_editorController)
                self->m_editorController->placeCaret(std::min(*caret, self->m_model->text().text().size()));
            self->releaseSourceKeys();
        });
        QTimer::singleShot(kCaretAnswerMs, this, [this, ask] {
            if (m_caretAsks == ask)
                releaseSourceKeys();
        });
    }
}

void DocumentWindow::releaseSourceKeys()
{
    m_awaitingCaret = false;
    ++m_caretAsks;
    for (auto &key : std::exchange(m_heldSourceKeys, {}))
        QCoreApplication::sendEvent(m_editor, key.get());
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
    m_preview->setAccessibleName(tr("Page"));
    m_preview->setAccessibleDescription(tr("The note as a rendered page"));
    core::previewLog(QStringLiteral("preview attached (in a window: ")
                     + (m_preview->parentWidget() ? QStringLiteral("true") : QStringLiteral("false"))
                     + u')');
    // The splitter hands the placeholder back without a parent.
    delete m_split->replaceWidget(m_split->indexOf(m_placeholder), m_preview);
    m_placeholder = nullptr;
    connect(&Spelling::shared().engine(), &preview::EngineDictionaries::ready, controller,
            &preview::PreviewController::recheckSpelling);
    connect(controller->webView(), &QWebEngineView::selectionChanged, m_status,
            &StatusBar::selectionChanged);
    connect(controller, &preview::PreviewController::learnWordRequested, this,
            [this](const QString &word, bool add) {
                if (!add) {
                    Spelling::shared().ignore(word);
                } else if (const auto added = Spelling::shared().add(word); !added) {
                    QMessageBox::warning(this, tr("Quorvel"),
                                         tr("\u201C%1\u201D could not be added to your dictionary: %2")
                                             .arg(word, added.error()));
                }
            });
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
    menuBar()->setVisible(!presenting);
    holdMenuShortcuts(presenting);
    // Presentation and full screen go together: entering one enters the other, and leaving
    // full screen by any means leaves presentation. The model hides the outline meanwhile.
    if (presenting != isFullScreen())
        presenting ? showFullScreen() : showNormal();
    m_outline->setVisible(m_model->showOutline());
    m_sidebar->setVisible(m_model->showOutline());
}

void DocumentWindow::holdMenuShortcuts(bool hold)
{
    if (!hold) {
        for (const QPointer<QAction> &action : std::as_const(m_heldShortcuts))
            if (action)
                removeAction(action);
        m_heldShortcuts.clear();
        return;
    }
    if (!m_heldShortcuts.isEmpty())
        return;
    // A hidden menu bar takes its menus' shortcuts with it; the window holds them meanwhile,
    // so that F11 still leaves presentation and Ctrl+S still saves.
    const std::function<void(const QList<QAction *> &)> take = [&](const QList<QAction *> &items) {
        for (QAction *action : items) {
            if (QMenu *menu = action->menu())
                take(menu->actions());
            else if (!action->shortcuts().isEmpty() && !actions().contains(action)) {
                addAction(action);
                m_heldShortcuts.append(action);
            }
        }
    };
    take(menuBar()->actions());
}

void DocumentWindow::wireSelectionCounts()
{
    // In split view the counts are of the pane the user is working in: the last of the two to
    // have the focus.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        const auto within = [now](const QWidget *area) {
            return area && now && (area == now || area->isAncestorOf(now));
        };
        const bool source = within(m_editor);
        if ((source || within(m_preview)) && source != m_countsFromSource) {
            m_countsFromSource = source;
            m_status->selectionChanged();
        }
    });
    connect(m_editor, &QPlainTextEdit::selectionChanged, m_status, &StatusBar::selectionChanged);
    connect(m_model, &DocumentModel::modeChanged, m_status, &StatusBar::selectionChanged);
    m_status->setSelectionSource([this]() -> std::optional<StatusBar::Selection> {
        const Mode mode = m_model->mode();
        if (mode == Mode::Source || (mode == Mode::Split && m_countsFromSource)) {
            const auto [from, to] = m_editorController->selectedSpan();
            if (from == to)
                return std::nullopt;
            return StatusBar::Selection{m_model->text().text(), true, from, to};
        }
        // The page's selection is already text as it is shown.
        const auto *page = qobject_cast<const QWebEngineView *>(m_preview.data());
        const QString shown = page && page->hasSelection() ? page->selectedText() : QString();
        if (shown.isEmpty())
            return std::nullopt;
        return StatusBar::Selection{shown, false, 0, -1};
    });
}

void DocumentWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        if (m_toolbar) {
            m_toolbar->repaintIcons();
            m_toolbar->refresh();
        }
    }
    else if (event->type() == QEvent::WindowStateChange && !isFullScreen() && m_model
             && m_model->presentation())
        m_model->setPresentation(false);
}

void DocumentWindow::refreshToolbar()
{
    if (m_toolbar)
        m_toolbar->refresh();
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
    if (!std::exchange(m_closeApproved, false) && !prepareToClose()) {
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
    statusBar()->addPermanentWidget(m_encodingLabel);
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

void DocumentWindow::wireVault()
{
    m_indexing = new QLabel(this);
    m_indexing->setObjectName(QStringLiteral("indexingLabel"));
    m_indexing->setContentsMargins(0, 0, 10, 0);
    m_indexing->hide();
    statusBar()->addPermanentWidget(m_indexing);
    const auto open = [](const QString &path, const QString &heading) {
        core::DocumentModel::openNote(path, heading);
    };
    connect(m_search, &VaultSearchPanel::noteChosen, this, open);
    connect(m_backlinks, &BacklinksPanel::noteChosen, this, open);
    connect(m_search, &VaultSearchPanel::closeRequested, this, [this] {
        m_search->hide();
        if (m_editor->isVisible() && m_model->mode() == Mode::Source)
            m_editor->setFocus();
        else if (m_preview)
            m_preview->setFocus();
    });
    // A note the program wrote is searchable at once, not when the folder watcher notices it.
    connect(m_document, &core::DocumentFile::saved, this, [this] {
        if (!filePath().isEmpty())
            vault::SearchIndex::forDocument(filePath()).noteChanged(filePath());
    });
    connect(m_document, &core::DocumentFile::filePathChanged, this, [this] {
        if (!filePath().isEmpty())
            vault::SearchIndex::forDocument(filePath()).noteChanged(filePath());
        followVault();
    });
    followVault();
}

void DocumentWindow::followVault()
{
    const QString path = filePath();
    m_search->setDocument(path);
    m_backlinks->setDocument(path);
    vault::SearchIndex *index = path.isEmpty() ? nullptr : &vault::SearchIndex::forDocument(path);
    const QString root = index ? index->root() : QString();
    if (root == m_vaultRoot && !root.isEmpty())
        return;
    m_vaultRoot = root;
    m_indexing->hide();
    if (!index)
        return;
    const auto show = [this, index] {
        const int total = index->total();
        // A note or two saved is no news; a pass over the vault is.
        m_indexing->setVisible(total > 1);
        m_indexing->setText(tr("Indexing notes\u2026 %1 of %2")
                                .arg(QLocale().toString(index->done()), QLocale().toString(total)));
        m_indexing->setToolTip(index->unreadable() > 0
                                   ? countedPhrase(index->unreadable(), tr("note"))
                                         + tr(" could not be read and are left out of search.")
                                   : QString());
    };
    disconnect(m_indexingFollows);
    m_indexingFollows = connect(index, &vault::SearchIndex::progressChanged, m_indexing, show);
    show();
}

void DocumentWindow::searchVault()
{
    if (m_model->presentation())
        m_model->setPresentation(false);
    const bool opening = !m_search->isVisible();
    m_search->activate();
    if (opening) {
        // Room for a snippet, taken from the document rather than the outline.
        QList<int> sizes = m_columns->sizes();
        const int wanted = 300;
        sizes[2] -= qMax(0, wanted - sizes[0]);
        sizes[0] = wanted;
        m_columns->setSizes(sizes);
    }
}

void DocumentWindow::quickOpen()
{
    if (filePath().isEmpty()) {
        statusBar()->showMessage(tr("Save this note first: Quick Open finds the notes beside it."), 4000);
        return;
    }
    QuickOpen::showFor(this, filePath());
}

} // namespace quorvel::app
