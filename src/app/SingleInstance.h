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
// Both live in $XDG_RUNTIME_DIR when it is set, else in the temporary folder,
// so separate sessions of one user (and separate test runs) never meet.
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
    // been told to show its window (as far as it could be reached). A lock
    // that cannot be made at all (folder not writable) counts as first.
    bool Claim();

    // The shared name: "KESTRELLE_ONLYONCE" and the user's.
    static QString Name();
    static QString Folder();

Q_SIGNALS:
    // A later copy asked for the main window.
    void RestoreRequested();

private:
    void TellFirstCopy();
    void OnConnection();

    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
