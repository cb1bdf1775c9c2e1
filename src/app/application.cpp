#include "application.h"

#include "core/documentcontrollers.h"
#include "core/documentmodel.h"
#include "documentcontroller.h"
#include "preview/previewcontroller.h"
#include "preview/workspace.h"
#include "themes/appearance.h"

#include <QApplication>
#include <QStringList>
#include <QStyleFactory>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace quorvel::app {

namespace {

bool hasFlag(int argc, char **argv, const char *flag)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0)
            return true;
    }
    return false;
}

bool commandLineMode(int argc, char **argv)
{
    return hasFlag(argc, argv, "--export") || hasFlag(argc, argv, "--selftest");
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
    prepareEnvironment(argc, argv);
    if (!commandLineMode(argc, argv) && !hasDisplay()) {
        std::fprintf(stderr, "Quorvel: no display to open windows on (DISPLAY and WAYLAND_DISPLAY "
                             "are unset).\n");
        return 1;
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
    if (commandLineMode(argc, argv)) {
        std::fprintf(stderr, "Quorvel: --export and --selftest are not available yet.\n");
        return 2;
    }

    installControllers();
    auto &controller = DocumentController::shared();
    int opened = 0;
    for (const QString &path : args.mid(1)) {
        if (path.startsWith(u'-'))
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
