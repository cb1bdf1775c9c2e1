#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>

namespace quorvel::app {

// One running program per user and display: a later start hands its files to the running one and
// ends, so that a file is never open in two processes. Which process is the running one is
// decided by a lock beside the socket, held for the instance's whole life: a process that is
// stopped (SIGSTOP) or still starting keeps it, so no later start takes its place or its socket.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        Ours,        // this process is the instance; listen() next
        Taken,       // another process is; hand the files to it
        Unavailable, // no private folder to meet in: the program runs on alone
    };
    enum class HandOff {
        Taken,        // the running instance has the files
        NotAnswering, // it holds the lock but did not take them (stopped, hung, still starting)
    };

    SingleInstance() = default;
    ~SingleInstance() override;

    // The socket of this user and display, in a folder no other user may enter: the runtime
    // folder when it is the user's own and closed to others, else a folder of ours under the
    // temporary folder, made with mode 0700 and checked for owner and mode (another user may
    // have made it first). Empty when there is no such folder.
    static QString serverName();

    Claim claim();
    // Gives `files` (absolute paths; none asks for an untitled window) to the running instance.
    static HandOff handOff(const QStringList &files);
    // Becomes the instance later starts hand off to; only after claim() said Ours. False when
    // the socket cannot be made; the program then runs on alone.
    bool listen();
    // Stops being the instance: the socket goes, then the lock. Before the application object
    // goes, whose event loop the socket needs to close cleanly; the destructor does it otherwise.
    void release();

Q_SIGNALS:
    void filesReceived(const QStringList &files);

private:
    void accept();

    QLocalServer m_server;
    int m_lock = -1;
};

} // namespace quorvel::app
