#include "spelling.h"
#include "application.h"

#include "commandline.h"
#include "core/debuglog.h"
#include "core/documentviews.h"
#include "core/documentmodel.h"
#include "documentcontroller.h"
#include "documentwindow.h"
#include "headlessexport.h"
#include "headlessrun.h"
#include "preview/previewcontroller.h"
#include "preview/externallinks.h"
#include "preview/webpagehost.h"
#include "singleinstance.h"
#include "updater.h"
#include "themes/appearance.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QStyleFactory>
#include <QTimer>
#include <QTranslator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace quorvel::app {

namespace {

// Qt's own words (the buttons of its dialogs) and ours in the user's language, when a translation
// is installed: ours beside the program in a build, else under share/ with the page.
void installTranslations(QApplication &app)
{
    auto *qt = new QTranslator(&app);
    if (qt->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qt);
    const QString exeDir = QCoreApplication::applicationDirPath();
    auto *ours = new QTranslator(&app);
    const QStringList folders{exeDir + QStringLiteral("/translations"),
                              exeDir + QStringLiteral("/../share/quorvel/translations")};
    for (const QString &folder : folders) {
        if (ours->load(QLocale(), QStringLiteral("quorvel"), QStringLiteral("_"), folder)) {
            QApplication::installTranslator(ours);
            break;
        }
    }
}

QStringList arguments(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    return args;
}

bool commandLineMode(const CommandLine &line)
{
    return line.mode == CommandLine::Mode::Export || line.mode == CommandLine::Mode::SelfTest;
}

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

void applyWindowAppearances()
{
    for (auto *model : core::DocumentModel::liveModels())
        model->applyWindowAppearance();
}

// Standard error carries the export's or the self-test's own lines and nothing else: a script
// reads them. The engine's chatter about graphics and sandboxes is not for it.
void quietMessages()
{
    if (qEnvironmentVariableIsSet("QUORVEL_DEBUG"))
        return;
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
}

int runExport(QApplication &app, const CommandLine &line)
{
    installControllers();
    HeadlessExport run(line.format, line.input, line.output);
    runToTheEnd(app, run);
}

void openFiles(const QStringList &files)
{
    auto &controller = DocumentController::shared();
    if (files.isEmpty()) {
        controller.newDocument();
        return;
    }
    for (const QString &path : files)
        controller.openDocument(path);
}

// Menus, message boxes and dialogs are windows of their own, and a window's palette does not
// reach them by itself: a Dark window's alerts came up light. Each takes the colours of the
// window it belongs to as it is shown, for every kind of such window at once.
class OwnerPalette : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto *widget = static_cast<QWidget *>(watched);
            QWidget *owner = widget->isWindow() && widget->parentWidget()
                ? widget->parentWidget()->window()
                : nullptr;
            // A tooltip sets the application's tooltip colours on itself; in a themed window
            // it takes the window's instead, which has its own for tooltips.
            const bool tip = widget->windowType() == Qt::ToolTip;
            if (owner && owner->testAttribute(Qt::WA_SetPalette)
                && (tip || !widget->testAttribute(Qt::WA_SetPalette)))
                widget->setPalette(owner->palette());
        }
        return QObject::eventFilter(watched, event);
    }
};

// Message boxes sized to what they say. Left to themselves they take the width of their first
// line, so that a short title over a sentence makes a narrow box with the sentence broken into
// four or five lines; each text is given its own width, up to a comfortable measure, and the
// message reads as the box's title over the detail.
class AlertFit : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Before the box's own show event, which works out its size from its labels.
        if (event->type() == QEvent::Show)
            if (auto *box = qobject_cast<QMessageBox *>(watched))
                fitAlertToText(*box);
        return QObject::eventFilter(watched, event);
    }
};

// Every page of ours is the same local page: one renderer process serves them all, where each
// window would otherwise start its own (some 40 MB and more each, measured in bench/memory.sh).
// A renderer that dies takes every window's page down with it, and each one loads itself again.
// Flags given in the environment are the user's say: a process model chosen there stands.
void applyEngineFlags()
{
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                        qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")));
}

// Without a GPU (no render node: a virtual machine, a remote or virtual display) OpenGL is
// Mesa's software rasteriser, and every web view composed through it kept window-sized
// textures on the heap, some 28 MB a window (bench/memory.sh under Xvfb). Composed in software
// to begin with, the same pixels cost a fraction; with a GPU, OpenGL stays. A backend chosen in
// the environment stands.
// Nothing then draws with OpenGL, yet the X11 platform still loaded Mesa's rasteriser (and
// LLVM under it) for the context the web engine would share: 35-180 ms of every start before
// the first window, on the path to the note's text.
void composeInSoftwareWithoutGpu()
{
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QSG_RHI_BACKEND"))
        return;
    const QStringList renderNodes = QDir(QStringLiteral("/dev/dri"))
                                        .entryList({QStringLiteral("renderD*")}, QDir::System);
    if (!renderNodes.isEmpty())
        return;
    qputenv("QT_QUICK_BACKEND", "software");
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

} // namespace

void followOwnerPalettes(QApplication &app)
{
    app.installEventFilter(new OwnerPalette(&app));
}

void fitAlertToText(QMessageBox &box)
{
    auto *message = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    auto *detail = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"));
    if (message && detail && !detail->text().isEmpty()) {
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
    }
    for (QLabel *label : {message, detail}) {
        if (!label || label->text().isEmpty())
            continue;
        const QFontMetrics metrics(label->font());
        int widest = 0;
        for (const QString &line : label->text().split(u'\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        label->setMinimumWidth(std::min(widest + 2, kAlertTextWidth));
    }
}

void fitAlertsToText(QApplication &app)
{
    app.installEventFilter(new AlertFit(&app));
}

void prepareEnvironment(int argc, char **argv)
{
    if (commandLineMode(CommandLine::parse(arguments(argc, argv))) && !hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The web engine shares its GL context with the widgets; it must be said before Qt starts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    preview::EngineDictionaries::prepareEnvironment();
    composeInSoftwareWithoutGpu();
    // Chromium refuses to start its sandbox as root (CI, containers).
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // After the sandbox is settled: without one, the engine needs no zygotes.
    applyEngineFlags();
}

QByteArray engineFlags(QByteArray given, bool sandboxOff)
{
    const auto has = [&given](const char *flag) { return given.contains(flag); };
    sandboxOff = sandboxOff || has("--no-sandbox");
    QByteArray flags = given.trimmed();
    const auto add = [&flags](const char *flag) {
        if (!flags.isEmpty())
            flags.append(' ');
        flags.append(flag);
    };
    if (!has("--renderer-process-limit") && !has("--process-per-") && !has("--single-process"))
        add("--renderer-process-limit=1");
    // The zygotes exist to start renderers inside the sandbox; without a sandbox (as root) they
    // are two processes holding some 12 MB for nothing, and the renderer is started directly.
    // With the sandbox on, the engine refuses to start without them.
    if (sandboxOff && !has("--no-zygote") && !has("--single-process"))
        add("--no-zygote");
    // The engine's own error lines (a font style it asked for and did not get in time) are no
    // news to the user, and an export's standard error is for what went wrong with the export.
    if (!has("--log-level") && !has("--enable-logging"))
        add("--log-level=3");
    return flags;
}

void installControllers()
{
    core::DocumentModel::setControllerFactory(
        {[](core::DocumentModel &model) -> std::unique_ptr<core::DocumentPreview> {
             // The page checks the note's own language; its profile says which.
             Spelling &spelling = Spelling::shared();
             return preview::PreviewController::create(
                 model, spelling.profile(spelling.languageOf(model.text().text())));
         },
         {}});
    core::DocumentModel::setWorkspace(
        {[](const QString &path) { DocumentController::shared().openDocument(path); },
         [](const QUrl &url) { preview::openExternally(url); }});
}

int runApplication(int argc, char **argv, SelfTestRun selfTest)
{
    core::startupMark("main");
    const CommandLine line = CommandLine::parse(arguments(argc, argv));
    switch (line.mode) {
    case CommandLine::Mode::Help:
        std::fputs(CommandLine::usage(), stdout);
        return 0;
    case CommandLine::Mode::Version:
        std::printf("Quorvel %s\n", QUORVEL_VERSION);
        return 0;
    case CommandLine::Mode::Invalid:
        std::fprintf(stderr, "quorvel: %s\n\n%s", qPrintable(line.error), CommandLine::usage());
        return 1;
    default:
        break;
    }
    prepareEnvironment(argc, argv);
    if (!commandLineMode(line) && !hasDisplay()) {
        std::fprintf(stderr, "Quorvel: no display to open windows on (DISPLAY and WAYLAND_DISPLAY "
                             "are unset).\n");
        return 1;
    }

    // Files as this process sees them: a running instance has another working folder.
    QStringList files;
    for (const QString &path : line.files)
        files.append(QFileInfo(path).absoluteFilePath());
    // Before Qt starts windows and the web engine: a second start ends within a blink.
    SingleInstance instance;
    if (line.mode == CommandLine::Mode::Windows
        && instance.claim() == SingleInstance::Claim::Taken) {
        if (SingleInstance::handOff(files) == SingleInstance::HandOff::Taken)
            return 0;
        std::fprintf(stderr, "Quorvel: the Quorvel already running on this display does not "
                             "answer; nothing was opened.\n");
        return 1;
    }

    if (commandLineMode(line))
        quietMessages();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installTranslations(app);
    core::startupMark("qapp");

    QObject::connect(&themes::Appearance::shared(),
                     &themes::Appearance::windowAppearancesInvalidated, &app,
                     &applyWindowAppearances);

    if (line.mode == CommandLine::Mode::Export)
        return runExport(app, line);
    // No updater and no single-instance server: a self-test asks the network nothing and takes
    // no files from other starts.
    if (line.mode == CommandLine::Mode::SelfTest)
        return selfTest(app, line.selfTestFile);

    installControllers();
    followOwnerPalettes(app);
    fitAlertsToText(app);
    // Only a program with windows may ask the network anything, and only from here on.
    Updater::setNetworkAllowed(true);
    Updater::shared().start();
    instance.listen();
    QObject::connect(&instance, &SingleInstance::filesReceived, &app, [](const QStringList &paths) {
        openFiles(paths);
        // The user asked from elsewhere (a terminal, the file manager): the window comes forward.
        const auto windows = DocumentController::shared().windows();
        for (const QString &path : paths) {
            if (auto *window = DocumentController::shared().windowForPath(path))
                window->activateWindow();
        }
        if (paths.isEmpty() && !windows.isEmpty())
            windows.last()->activateWindow();
    });
    core::startupMark("open");
    // The page is what the user waits for; the window's chrome is built while it loads. Not
    // for the source view, which shows no page until asked.
    if (core::DocumentModel::rememberedMode(core::ModelEnvironment::standard().store)
        != core::DocumentModel::Mode::Source)
        preview::WebPageHost::prepareFirst();
    openFiles(files);
    core::startupMark("opened");
    if (!files.isEmpty() && DocumentController::shared().windows().isEmpty()) {
        instance.release();
        return 1;
    }
    return app.exec();
}

} // namespace quorvel::app
