#include "documentcontroller.h"

#include "core/debuglog.h"

#include "core/documenttext.h"
#include "core/documentfile.h"
#include "documentwindow.h"
#include "core/documentsession.h"
#include "themes/settingsstore.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include <QTimer>

#include <memory>
#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace quorvel::app {

namespace {
const QString kRecentKey = QStringLiteral("recentDocuments");
constexpr int kMaxRecent = 10;
} // namespace

namespace {

QString canonical(const QString &path)
{
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();
    return resolved.isEmpty() ? info.absoluteFilePath() : resolved;
}

} // namespace

DocumentController &DocumentController::shared()
{
    static DocumentController *controller = new DocumentController;
    return *controller;
}

QList<DocumentWindow *> DocumentController::windows() const
{
    QList<DocumentWindow *> open;
    for (const auto &window : m_windows) {
        if (window)
            open.append(window.data());
    }
    return open;
}

DocumentWindow *DocumentController::windowForPath(const QString &path) const
{
    const QString wanted = canonical(path);
    for (auto *window : windows()) {
        if (!window->filePath().isEmpty() && canonical(window->filePath()) == wanted)
            return window;
    }
    return nullptr;
}

DocumentWindow *DocumentController::openDocument(const QString &path, bool display)
{
    if (auto *open = windowForPath(path)) {
        remember(open->filePath());
        if (display) {
            open->show();
            open->raise();
            open->activateWindow();
        }
        return open;
    }
    const QFileInfo info(path);
    const auto fail = [this, &path](const QString &message) -> DocumentWindow * {
        std::fprintf(stderr, "Quorvel: %s\n", qPrintable(message));
        Q_EMIT openFailed(path, message);
        if (m_alertsEnabled) {
            QMessageBox box(QMessageBox::Warning, tr("Quorvel"), message, QMessageBox::Ok);
            box.exec();
        }
        return nullptr;
    };
    // A name whose bytes are not UTF-8 reached us with its bad bytes replaced: the path names
    // no file, and taking it for a new note would write a second file beside the real one.
    if (path.contains(QChar::ReplacementCharacter) && !info.exists() && !info.isSymLink())
        return fail(tr("The file name \u201C%1\u201D is not valid UTF-8: Quorvel cannot open "
                       "it. Rename the file, then open it again.")
                        .arg(info.fileName()));
    // A path that does not exist yet is a new note to be written there, as editors do; only a
    // missing folder is an error, since the first save could not succeed.
    if (!info.exists() && !info.isSymLink() && info.absoluteDir().exists()) {
        auto session = std::make_unique<core::DocumentSession>(
            std::make_unique<core::DocumentText>(), info.absoluteFilePath(), environment());
        return adopt(new DocumentWindow(std::move(session)), display);
    }
    auto content = core::DocumentText::open(path);
    if (!content)
        return fail(content.error());
    auto session = std::make_unique<core::DocumentSession>(
        std::move(content).value(), QFileInfo(path).absoluteFilePath(), environment());
    return adopt(new DocumentWindow(std::move(session)), display);
}

DocumentWindow *DocumentController::newDocument(bool display)
{
    return adopt(new DocumentWindow(core::DocumentSession::untitled(environment())), display);
}

void DocumentController::setModelEnvironment(const core::ModelEnvironment &environment)
{
    m_environment.emplace(environment);
}

core::ModelEnvironment DocumentController::environment() const
{
    return m_environment ? *m_environment : core::ModelEnvironment::standard();
}

DocumentWindow *DocumentController::adopt(DocumentWindow *window, bool display)
{
    m_windows.removeIf([](const QPointer<DocumentWindow> &w) { return w.isNull(); });
    m_windows.append(window);
    // The allocator keeps a closed window's memory (a large note's text, its editor, its
    // outline) for the next allocation; given back, the system sees the program shrink.
    QObject::connect(window, &QObject::destroyed, qApp, [] {
        QTimer::singleShot(0, qApp, [] {
#if defined(__GLIBC__)
            malloc_trim(0);
#endif
        });
    });
    remember(window->filePath());
    follow(window);
    core::appLog(QStringLiteral("window for %1").arg(window->filePath().isEmpty() ? QStringLiteral("an untitled document") : window->filePath()));
    if (display) {
        window->show();
        if (core::startupTraceEnabled())
            core::startupMark("shown", window->startupTextArea());
    }
    return window;
}

void DocumentController::remember(const QString &path)
{
    if (path.isEmpty())
        return;
    QStringList recent = environment().store.value(kRecentKey).toStringList();
    recent.removeAll(path);
    recent.prepend(path);
    environment().store.setValue(kRecentKey, recent.mid(0, kMaxRecent));
}

void DocumentController::follow(DocumentWindow *window)
{
    // Saved as, renamed or moved: the new file is the one opened last, and a name that no longer
    // leads anywhere leaves the list.
    auto last = std::make_shared<QString>(window->filePath());
    connect(window, &DocumentWindow::filePathChanged, this, [this, last](const QString &path) {
        const QString before = std::exchange(*last, path);
        if (!before.isEmpty() && !QFileInfo(before).isFile())
            forgetRecent(before);
        remember(path);
    });
}

QStringList DocumentController::recentEntries() const
{
    return environment().store.value(kRecentKey).toStringList().mid(0, kMaxRecent);
}

void DocumentController::forgetRecent(const QString &path)
{
    QStringList recent = environment().store.value(kRecentKey).toStringList();
    if (recent.removeAll(path))
        environment().store.setValue(kRecentKey, recent);
}

void DocumentController::clearRecent()
{
    environment().store.setValue(kRecentKey, QStringList());
}

bool DocumentController::closeAllWindows()
{
    const QList<DocumentWindow *> open = windows();
    for (DocumentWindow *window : open) {
        if (!window->prepareToClose()) {
            for (DocumentWindow *asked : open)
                asked->setCloseApproved(false);
            return false;
        }
        window->setCloseApproved(true);
    }
    for (DocumentWindow *window : open)
        window->close();
    // The settings window and anything else still open.
    QApplication::closeAllWindows();
    return true;
}

QStringList DocumentController::recentDocuments() const
{
    QStringList recent = environment().store.value(kRecentKey).toStringList();
    recent.removeIf([](const QString &path) { return !QFileInfo(path).isFile(); });
    return recent.mid(0, kMaxRecent);
}

void DocumentController::showOpenDialog(QWidget *parent)
{
    // From the folder of the note the user is in, not wherever the program was started.
    QString folder;
    if (auto *window = qobject_cast<DocumentWindow *>(parent ? parent->window() : nullptr);
        window && !window->filePath().isEmpty())
        folder = QFileInfo(window->filePath()).absolutePath();
    const QStringList paths = QFileDialog::getOpenFileNames(
        parent, tr("Open"), folder,
        tr("Markdown (*.md *.markdown *.mdown *.mkd *.txt);;All files (*)"));
    for (const QString &path : paths)
        openDocument(path);
}

} // namespace quorvel::app
