#include "application.h"

#include "core/documentcontrollers.h"
#include "core/documentmodel.h"
#include "documentcontroller.h"
#include "headlessexport.h"
#include "preview/previewcontroller.h"
#include "preview/workspace.h"
#include "themes/appearance.h"

#include <QApplication>
#include <QTimer>
#include <QStringList>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace quorvel::app {

namespace {

int indexOf(int argc, char **argv, const char *flag);

bool commandLineMode(int argc, char **argv)
{
    return indexOf(argc, argv, "--export") > 0 || indexOf(argc, argv, "--selftest") > 0;
}

constexpr char kUsage[] =
    "Usage: quorvel [FILE...]\n"
    "       quorvel --export FORMAT INPUT OUTPUT\n"
    "       quorvel --selftest FILE\n"
    "\n"
    "Opens each Markdown FILE in a window of its own; with none, an untitled window.\n"
    "\n"
    "  --export FORMAT INPUT OUTPUT  write INPUT as OUTPUT without a window;\n"
    "                                FORMAT is pdf, html or md\n"
    "  --selftest FILE               check the program on a scratch copy of FILE\n"
    "  -h, --help                    show this help and exit\n"
    "  -v, --version                 show the version and exit\n"
    "\n"
    "Without a display, --export and --selftest run on Qt's offscreen platform.\n";

// What the command line asks for before any of Qt starts: help, the version, or a mistake.
// Returns the exit status when the run ends here.
std::optional<int> answerFromCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            break;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--version") == 0) {
            std::printf("Quorvel %s\n", QUORVEL_VERSION);
            return 0;
        }
        if (std::strcmp(arg, "--export") == 0) {
            if (argc - i - 1 < 3) {
                std::fprintf(stderr, "quorvel: --export needs FORMAT INPUT OUTPUT\n\n%s", kUsage);
                return 1;
            }
            i += 3;
            continue;
        }
        if (std::strcmp(arg, "--selftest") == 0) {
            if (argc - i - 1 < 1) {
                std::fprintf(stderr, "quorvel: --selftest needs FILE\n\n%s", kUsage);
                return 1;
            }
            i += 1;
            continue;
        }
        if (arg[0] == '-' && arg[1] != '\0') {
            std::fprintf(stderr, "quorvel: unknown option %s\n\n%s", arg, kUsage);
            return 1;
        }
    }
    return std::nullopt;
}

int indexOf(int argc, char **argv, const char *flag)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return -1;
        if (std::strcmp(argv[i], flag) == 0)
            return i;
    }
    return -1;
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

} // namespace

void prepareEnvironment(int argc, char **argv)
{
    if (commandLineMode(argc, argv) && !hasDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The web engine shares its GL context with the widgets; it must be said before Qt starts.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // Chromium refuses to start its sandbox as root (CI, containers).
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

void installControllers()
{
    core::DocumentModel::setControllerFactory(
        {[](core::DocumentModel &model) -> std::unique_ptr<core::DocumentPreview> {
             return preview::PreviewController::create(model);
         },
         {}});
    core::DocumentModel::setWorkspace(
        {[](const QString &path) { DocumentController::shared().openDocument(path); },
         [](const QUrl &url) { preview::openExternally(url); }});
}

int runApplication(int argc, char **argv)
{
    if (const auto status = answerFromCommandLine(argc, argv))
        return *status;
    prepareEnvironment(argc, argv);
    if (!commandLineMode(argc, argv) && !hasDisplay()) {
        std::fprintf(stderr, "Quorvel: no display to open windows on (DISPLAY and WAYLAND_DISPLAY "
                             "are unset).\n");
        return 1;
    }

    if (indexOf(argc, argv, "--export") > 0) {
        // Standard error carries the export's own messages and nothing else: a script reads
        // them. The engine's chatter about graphics and sandboxes is not for it.
        if (!qEnvironmentVariableIsSet("QUORVEL_DEBUG"))
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
                if (type == QtFatalMsg)
                    std::fprintf(stderr, "%s\n", qPrintable(text));
            });
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorvel"));
    QApplication::setOrganizationName(QStringLiteral("Quorvel"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QObject::connect(&themes::Appearance::shared(),
                     &themes::Appearance::windowAppearancesInvalidated, &app,
                     &applyWindowAppearances);

    const QStringList args = app.arguments();
    if (const int at = indexOf(argc, argv, "--export"); at > 0) {
        installControllers();
        HeadlessExport run(args.at(at + 1), args.at(at + 2), args.at(at + 3));
        int status = 2;
        QObject::connect(&run, &HeadlessExport::finished, &app, [&status](int code) {
            status = code;
            QCoreApplication::exit(code);
        });
        // Inside the event loop, so that an early end (bad arguments) can still end it.
        QTimer::singleShot(0, &run, &HeadlessExport::run);
        app.exec();
        // The output is written and closed, and nothing else of this run is kept: tearing the
        // web engine down would only add a tenth of a second to every export.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    if (commandLineMode(argc, argv)) {
        std::fprintf(stderr, "Quorvel: --selftest is not available yet.\n");
        return 2;
    }

    installControllers();
    auto &controller = DocumentController::shared();
    int opened = 0;
    bool options = true;
    for (const QString &path : args.mid(1)) {
        if (options && path == u"--") {
            options = false;
            continue;
        }
        if (options && path.startsWith(u'-'))
            continue;
        if (controller.openDocument(path))
            ++opened;
    }
    if (args.size() <= 1)
        controller.newDocument();
    else if (opened == 0)
        return 1;
    return app.exec();
}

} // namespace quorvel::app
