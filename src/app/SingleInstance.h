#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

// One running copy per user. The first copy holds a lock file and listens
// on a local socket beside it; a later copy finds the lock held, tells the
// first copy through the socket to show its window, and ends. A lock left by
// a copy that died is taken over (the lock file names the owner's process).
// Both live in a folder that only this user can write into, so that nobody
// else can plant a lock that stops the program: $XDG_RUNTIME_DIR when it is
// set (separate sessions of one user, and separate test runs, never meet),
// else a folder of ours (mode 0700) in the temporary folder, else the data
// folder. A folder owned by someone else, or that others may write into, is
// passed over.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // What a later copy sends: the command that shows the main window.
    static constexpr int kRestoreCommand = 32772;

    SingleInstance();
    ~SingleInstance() override;

    // True when this is the first copy: the lock is held and the socket
    // listens. False when another copy holds the lock; that copy has then
    // been told to show its window; when it could not be reached, standard
    // error and a message box say why this start gives up. A lock that
    // cannot be made at all (no private folder) counts as first.
    bool Claim();

    // The shared name: "KESTRELLE_ONLYONCE" and the user's.
    static QString Name();
    // Empty when no folder fits.
    static QString Folder();

Q_SIGNALS:
    // A later copy asked for the main window.
    void RestoreRequested();

private:
    bool TellFirstCopy();
    void OnConnection();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
