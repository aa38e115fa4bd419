#include "support/TlsSmtpServer.h"

#include "support/TempDir.h"

#include <chrono>
#include <filesystem>

namespace {

std::vector<std::string> ScriptArgs(TlsSmtpServer::Mode mode, const std::string& cert,
                                    const std::string& key, const std::string& user,
                                    const std::string& password)
{
    using Mode = TlsSmtpServer::Mode;
    std::vector<std::string> args{mode == Mode::StartTls   ? "starttls"
                                  : mode == Mode::Tls      ? "tls"
                                  : mode == Mode::TlsLogin ? "tls-login"
                                                           : "plain",
                                  cert, key};
    if (!user.empty()) {
        args.push_back(user);
        args.push_back(password);
    }
    return args;
}

} // namespace

TlsSmtpServer::TlsSmtpServer(std::string folder, Mode mode, const std::string& cert,
                             const std::string& key, const std::string& user,
                             const std::string& password)
    // Python and aiosmtpd start in well under a second; a busy machine gets
    // much longer.
    : AiosmtpdServer(std::move(folder), "smtp_tls_sink.py",
                     ScriptArgs(mode, cert, key, user, password), std::chrono::seconds(20))
{
}

std::vector<std::string> TlsSmtpServer::Commands() const
{
    std::error_code ec;
    if (!std::filesystem::exists(Folder() + "/commands", ec))
        return {};
    return Lines(TempDir::ReadFile(Folder() + "/commands"));
}
