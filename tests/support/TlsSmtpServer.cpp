#include "support/TlsSmtpServer.h"

#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

} // namespace

TlsSmtpServer::TlsSmtpServer(std::string folder, Mode mode, const std::string& cert,
                             const std::string& key, const std::string& user,
                             const std::string& password)
    : m_folder(std::move(folder))
{
    const std::string script =
        (fs::path(KESTRELLE_TEST_DATA_DIR).parent_path() / "support" / "smtp_tls_sink.py").string();
    std::vector<std::string> args{KESTRELLE_SYSTEM_PYTHON,
                                  script,
                                  m_folder,
                                  mode == Mode::StartTls   ? "starttls"
                                  : mode == Mode::Tls      ? "tls"
                                  : mode == Mode::TlsLogin ? "tls-login"
                                                           : "plain",
                                  cert,
                                  key};
    if (!user.empty()) {
        args.push_back(user);
        args.push_back(password);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
        return;
    }
    // Python and aiosmtpd start in well under a second; a busy machine gets
    // much longer.
    for (int i = 0; i < 1000; ++i) {
        std::error_code ec;
        if (fs::exists(m_folder + "/port", ec)) {
            m_port = static_cast<std::uint16_t>(std::stoi(TempDir::ReadFile(m_folder + "/port")));
            return;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TlsSmtpServer::~TlsSmtpServer()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    for (int i = 0; i < 250; ++i) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
}

std::vector<AiosmtpdServer::Message> TlsSmtpServer::Messages() const
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_folder, ec)) {
        const std::string name = entry.path().filename().string();
        // Complete messages only: those still being written end in ".tmp".
        if (name.rfind("msg-", 0) == 0 && name.find('.') == std::string::npos)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<AiosmtpdServer::Message> messages;
    for (const auto& name : names) {
        const std::string dir = m_folder + "/" + name + "/";
        messages.push_back({TempDir::ReadFile(dir + "from"), Lines(TempDir::ReadFile(dir + "rcpt")),
                            TempDir::ReadFile(dir + "data")});
    }
    return messages;
}

std::vector<std::string> TlsSmtpServer::Commands() const
{
    std::error_code ec;
    if (!fs::exists(m_folder + "/commands", ec))
        return {};
    return Lines(TempDir::ReadFile(m_folder + "/commands"));
}
