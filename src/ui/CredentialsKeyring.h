#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The log-ins a user chose to remember, in the desktop's keyring (the
// Secret Service, through QtKeychain): one secret item of the program's
// service holding them all, so one read at start brings every one back.
// Called on the user-interface thread only; each call returns at once and
// answers through its callback later, from that thread's event loop, so a
// keyring that is slow or asks to be unlocked never holds the window. Never
// written anywhere else: without a keyring there is nothing to remember in.
class CredentialsKeyring
{
public:
    struct Entry
    {
        std::string server; // scheme://host:port
        std::string realm;
        std::string user;
        std::string password;
        bool operator==(const Entry&) const = default;
    };
    // `ok` false when no keyring answered (`error` says why); an empty list
    // when it answered and holds nothing of ours.
    using ReadDone = std::function<void(bool ok, std::vector<Entry> entries, std::string error)>;
    using WriteDone = std::function<void(bool ok, std::string error)>;

    // `service` names the item's owner in the keyring.
    explicit CredentialsKeyring(QString service);
    ~CredentialsKeyring();

    void Read(ReadDone done);
    // Replaces what is kept; an empty list removes the item.
    void Write(const std::vector<Entry>& entries, WriteDone done);

    // The item's secret text, and back; nothing from text that is not ours.
    static QString Encode(const std::vector<Entry>& entries);
    static std::optional<std::vector<Entry>> Decode(const QString& text);

private:
    QString m_service;
    // Callbacks of jobs still running are dropped with it.
    std::unique_ptr<QObject> m_context;
};
