#include "singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel::app {

namespace {

constexpr int kAnswerMs = 3000;
// How long a start waits for an instance that holds the lock to listen: it takes the lock
// before its windows and the web engine start, and listens soon after.
constexpr int kStartingMs = 10000;
constexpr qint64 kMaxRequest = 1 << 20;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

// Ours, a folder (not a link to one) and closed to everyone else.
bool isPrivateFolder(const QString &path)
{
    struct stat info{};
    return ::lstat(encoded(path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
        && info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
}

std::optional<QString> privateFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime) && isPrivateFolder(runtime))
        return QDir::cleanPath(runtime);
    // Never a shared name in a shared folder: another user could create it first and receive
    // the files, or stand in for the instance.
    const QString own =
        QDir(QDir::tempPath()).filePath(QStringLiteral("quorvel-%1").arg(::geteuid()));
    ::mkdir(encoded(own).constData(), 0700);
    if (isPrivateFolder(own))
        return own;
    return std::nullopt;
}

// The display windows open on, fit for a file name: one instance per display, so that a start
// on another display (another seat, a nested session) opens its window there.
QString displayPart()
{
    QString display = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (display.isEmpty()) {
        display = qEnvironmentVariable("DISPLAY");
        // ":0.0" and ":0" are the same display; the screen is not part of it.
        static const QRegularExpression screen(QStringLiteral("^(.*:\\d+)\\.\\d+$"));
        if (const auto match = screen.match(display); match.hasMatch())
            display = match.captured(1);
    }
    for (QChar &c : display) {
        if (!c.isLetterOrNumber() && c != u'.' && c != u'-' && c != u'_' && c != u':')
            c = u'_';
    }
    return display.left(64);
}

} // namespace

SingleInstance::~SingleInstance()
{
    release();
}

void SingleInstance::release()
{
    // The socket goes before the lock: once the lock is free a new instance may listen at the
    // same path, and closing the server afterwards would remove the new instance's socket.
    m_server.close();
    if (m_lock >= 0)
        ::close(std::exchange(m_lock, -1));
}

QString SingleInstance::serverName()
{
    const std::optional<QString> folder = privateFolder();
    if (!folder)
        return QString();
    const QString display = displayPart();
    return QDir(*folder).filePath(QStringLiteral("quorvel-instance")
                                  + (display.isEmpty() ? QString() : u'-' + display));
}

SingleInstance::Claim SingleInstance::claim()
{
    const QString name = serverName();
    if (name.isEmpty())
        return Claim::Unavailable;
    const int fd = ::open(encoded(name + QStringLiteral(".lock")).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Claim::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? Claim::Taken : Claim::Unavailable;
    }
    m_lock = fd;
    return Claim::Ours;
}

SingleInstance::HandOff SingleInstance::handOff(const QStringList &files)
{
    QLocalSocket socket;
    QElapsedTimer starting;
    starting.start();
    for (;;) {
        socket.connectToServer(serverName());
        if (socket.waitForConnected(kAnswerMs))
            break;
        // The instance holds the lock but is not listening yet.
        if (starting.hasExpired(kStartingMs))
            return HandOff::NotAnswering;
        QThread::msleep(50);
    }
    QByteArray request = QJsonDocument(QJsonArray::fromStringList(files)).toJson(QJsonDocument::Compact);
    request += '\n';
    socket.write(request);
    if (!socket.waitForBytesWritten(kAnswerMs))
        return HandOff::NotAnswering;
    // The answer comes once the running instance has taken the files. A stopped instance still
    // accepts the connection (the system does that for it) but never answers; its files are not
    // opened here either, or the same file would be open in two processes.
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerMs))
            return HandOff::NotAnswering;
    }
    return socket.readLine().trimmed() == "ok" ? HandOff::Taken : HandOff::NotAnswering;
}

bool SingleInstance::listen()
{
    if (m_lock < 0)
        return false;
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &SingleInstance::release);
    // The lock is ours, so whatever socket is there was left by an instance that died.
    QLocalServer::removeServer(serverName());
    return m_server.listen(serverName());
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() > kMaxRequest) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QJsonDocument request = QJsonDocument::fromJson(socket->readLine());
            if (!request.isArray()) {
                socket->abort();
                return;
            }
            QStringList files;
            for (const QJsonValue &file : request.array()) {
                if (file.isString())
                    files.append(file.toString());
            }
            // The answer first: the other start ends at once instead of waiting for windows.
            socket->write("ok\n");
            socket->flush();
            QMetaObject::invokeMethod(
                this, [this, files] { Q_EMIT filesReceived(files); }, Qt::QueuedConnection);
        });
    }
}

} // namespace quorvel::app
