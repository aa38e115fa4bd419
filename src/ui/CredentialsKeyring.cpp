#include "ui/CredentialsKeyring.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <qt6keychain/keychain.h>

namespace {

const QString kKey = QStringLiteral("log-ins");

// A keyring job as this program runs them: never a plain file in the
// keyring's stead, gone by itself once it has answered.
template <typename Job> Job* MakeJob(const QString& service)
{
    auto* job = new Job(service);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(kKey);
    return job;
}

} // namespace

CredentialsKeyring::CredentialsKeyring(QString service)
    : m_service(std::move(service)), m_context(std::make_unique<QObject>())
{
}

CredentialsKeyring::~CredentialsKeyring() = default;

void CredentialsKeyring::Read(ReadDone done)
{
    auto* job = MakeJob<QKeychain::ReadPasswordJob>(m_service);
    QObject::connect(job, &QKeychain::Job::finished, m_context.get(),
                     [done = std::move(done)](QKeychain::Job* finished) {
                         auto* read = static_cast<QKeychain::ReadPasswordJob*>(finished);
                         if (read->error() == QKeychain::EntryNotFound)
                             return done(true, {}, {});
                         if (read->error() != QKeychain::NoError)
                             return done(false, {}, read->errorString().toStdString());
                         auto entries = Decode(read->textData());
                         if (!entries)
                             return done(true, {}, "the keyring's item is not one of ours");
                         done(true, std::move(*entries), {});
                     });
    job->start();
}

void CredentialsKeyring::Write(const std::vector<Entry>& entries, WriteDone done)
{
    QKeychain::Job* job = nullptr;
    if (entries.empty()) {
        job = MakeJob<QKeychain::DeletePasswordJob>(m_service);
    } else {
        auto* write = MakeJob<QKeychain::WritePasswordJob>(m_service);
        write->setTextData(Encode(entries));
        job = write;
    }
    QObject::connect(job, &QKeychain::Job::finished, m_context.get(),
                     [done = std::move(done)](QKeychain::Job* finished) {
                         const bool ok = finished->error() == QKeychain::NoError ||
                                         finished->error() == QKeychain::EntryNotFound;
                         done(ok, ok ? std::string() : finished->errorString().toStdString());
                     });
    job->start();
}

QString CredentialsKeyring::Encode(const std::vector<Entry>& entries)
{
    QJsonArray list;
    for (const Entry& e : entries)
        list.append(QJsonObject{{"server", QString::fromStdString(e.server)},
                                {"realm", QString::fromStdString(e.realm)},
                                {"user", QString::fromStdString(e.user)},
                                {"password", QString::fromStdString(e.password)}});
    return QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact));
}

std::optional<std::vector<CredentialsKeyring::Entry>>
CredentialsKeyring::Decode(const QString& text)
{
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    if (!document.isArray())
        return std::nullopt;
    std::vector<Entry> entries;
    for (const QJsonValue& value : document.array()) {
        const QJsonObject o = value.toObject();
        Entry e{o.value("server").toString().toStdString(),
                o.value("realm").toString().toStdString(), o.value("user").toString().toStdString(),
                o.value("password").toString().toStdString()};
        if (!e.server.empty())
            entries.push_back(std::move(e));
    }
    return entries;
}
