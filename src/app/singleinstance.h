#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace quorvel::app {

// One running program per user: a later start hands its files to the running one and ends, so
// that a file is never open in two processes.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The socket, in the user's runtime folder.
    static QString serverName();

    // Gives `files` (absolute paths; none asks for an untitled window) to a running instance.
    // True when one took them; false when none answers, at once for a socket a crash left.
    static bool handOff(const QStringList &files);

    // Becomes the instance later starts hand off to. False when the socket cannot be made; the
    // program then runs on alone.
    bool listen();

Q_SIGNALS:
    void filesReceived(const QStringList &files);

private:
    void accept();

    QLocalServer m_server;
};

} // namespace quorvel::app
