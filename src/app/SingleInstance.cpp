#include "app/SingleInstance.h"

#include "platform/AppPaths.h"
#include "platform/UserMessage.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {
QString SocketPath()
{
    return SingleInstance::Folder() + QLatin1Char('/') + SingleInstance::Name();
}

QByteArray RestoreMessage()
{
    return QByteArray::number(SingleInstance::kRestoreCommand) + '\n';
}
} // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

QString SingleInstance::Name()
{
    // The user id as well as the name: two accounts may share a name's
    // folder (a temporary folder common to all), never an id.
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return QStringLiteral("KESTRELLE_ONLYONCE-%1-%2").arg(user).arg(getuid());
}

QString SingleInstance::Folder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && AppPaths::IsPrivateFolder(QDir::cleanPath(runtime).toStdString()))
        return QDir::cleanPath(runtime);
    const QString ours =
        QDir::cleanPath(QDir::tempPath() + QStringLiteral("/kestrelle-%1").arg(getuid()));
    if (AppPaths::IsPrivateFolder(ours.toStdString(), true))
        return ours;
    const std::string data = AppPaths::FolderOf(AppPaths::DataFile());
    if (AppPaths::IsPrivateFolder(data))
        return QString::fromStdString(data);
    return {};
}

bool SingleInstance::Claim()
{
    if (Folder().isEmpty()) {
        std::fprintf(stderr, "Kestrelle: no folder of this user's alone to keep the one-copy "
                             "lock in; a second copy will not be noticed\n");
        return true;
    }
    m_lock = std::make_unique<QLockFile>(SocketPath() + QStringLiteral(".lock"));
    // A live first copy keeps its lock however long it runs; only a dead
    // owner's lock is taken over.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError) {
            if (!TellFirstCopy()) {
                qint64 pid = 0;
                QString host, app;
                m_lock->getLockInfo(&pid, &host, &app);
                const std::string why =
                    "Kestrelle is running already (process " + std::to_string(pid) + " holds " +
                    m_lock->fileName().toStdString() +
                    "), but that copy does not answer, so this one ends. If no Kestrelle runs, "
                    "remove that file and start Kestrelle again.";
                std::fprintf(stderr, "Kestrelle: %s\n", why.c_str());
                UserMessage::Show(why, UserMessage::Icon::Stop);
            }
            return false;
        }
        // No lock can be made here: running twice is better than not at all.
        return true;
    }
    // The socket is ours now; a dead copy's socket file is in the way.
    QLocalServer::removeServer(SocketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    m_server->listen(SocketPath());
    return true;
}

bool SingleInstance::TellFirstCopy()
{
    // The first copy takes the lock an instant before it listens; give it a
    // moment.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(RestoreMessage());
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(1000);
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

void SingleInstance::OnConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        auto readCommands = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == RestoreMessage())
                    Q_EMIT RestoreRequested();
            }
        };
        connect(socket, &QLocalSocket::readyRead, this, readCommands);
        readCommands();
    }
}
