#include "externallinks.h"

#include "core/debuglog.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>

#ifdef QUORVEL_HAS_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif

namespace quorvel::preview {

namespace {

// Types that desktops run, or hand to a program loader, when they are opened.
bool isLaunchable(const QMimeType &type)
{
    static const char *const kLaunchable[] = {
        "application/x-executable",     "application/x-sharedlib",
        "application/x-pie-executable", "application/x-shellscript",
        "application/x-desktop",        "application/x-ms-dos-executable",
        "application/x-msdownload",     "application/x-msi",
        "application/x-ms-shortcut",    "application/vnd.appimage",
        "application/x-java-archive",   "application/x-mach-binary",
        "application/x-bat",            "application/x-perl",
        "text/x-python",                "text/x-python3",
        "application/x-ruby",           "application/x-deb",
        "application/x-rpm",            "application/vnd.android.package-archive",
    };
    for (const char *name : kLaunchable) {
        if (type.inherits(QString::fromLatin1(name)))
            return true;
    }
    return false;
}

} // namespace

FileLaunch fileLaunch(const QString &path)
{
    const QFileInfo link(path);
    const QFileInfo info(link.isSymLink() ? link.canonicalFilePath() : path);
    if (!info.exists() || info.isDir())
        return FileLaunch::Open;
    if (info.isExecutable())
        return FileLaunch::Reveal;
    // By name and by content: a program renamed "notes.md" is still a program.
    const QMimeDatabase types;
    const QString file = info.absoluteFilePath();
    if (isLaunchable(types.mimeTypeForFile(file, QMimeDatabase::MatchExtension))
        || isLaunchable(types.mimeTypeForFile(file, QMimeDatabase::MatchContent)))
        return FileLaunch::Reveal;
    return FileLaunch::Open;
}

void openExternally(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == u"http" || scheme == u"https" || scheme == u"mailto") {
        QDesktopServices::openUrl(url);
        return;
    }
    if (!url.isLocalFile()) {
        core::previewLog(QStringLiteral("not opened: ") + url.toDisplayString());
        return;
    }
    const QString path = url.toLocalFile();
    if (fileLaunch(path) == FileLaunch::Reveal) {
        core::previewLog(QStringLiteral("revealed, not run: ") + path);
        revealInFileManager(path);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void revealInFileManager(const QString &path)
{
    const QFileInfo info(path);
#ifdef QUORVEL_HAS_DBUS
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(info.absoluteFilePath()).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
#endif
    // The folder, never the file itself: opening the file is what must not happen.
    QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

} // namespace quorvel::preview
