#include "singleinstance.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QStandardPaths>

namespace quorvel::app {

namespace {

constexpr int kAnswerMs = 3000;
constexpr qint64 kMaxRequest = 1 << 20;

} // namespace

QString SingleInstance::serverName()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("quorvel-instance"));
}

bool SingleInstance::handOff(const QStringList &files)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    // A socket file left by a crash refuses the connection at once.
    if (!socket.waitForConnected(kAnswerMs))
        return false;
    QByteArray request = QJsonDocument(QJsonArray::fromStringList(files)).toJson(QJsonDocument::Compact);
    request += '\n';
    socket.write(request);
    if (!socket.waitForBytesWritten(kAnswerMs))
        return false;
    // The answer comes once the running instance has taken the files; a hung instance must not
    // swallow them, so no answer means "open them here".
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerMs))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

bool SingleInstance::listen()
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    if (m_server.listen(serverName()))
        return true;
    // Nobody answered handOff(), so the socket there is a dead one.
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
