#include "support/AiosmtpdServer.h"

#include <cstdio>
#include <fstream>

#include "support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

} // namespace

std::vector<std::string> AiosmtpdServer::Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

AiosmtpdServer::AiosmtpdServer(std::string folder, std::chrono::milliseconds startTimeout)
    : AiosmtpdServer(std::move(folder), "smtp_sink.py", {}, startTimeout)
{
}

AiosmtpdServer::AiosmtpdServer(std::string folder, const std::string& script,
                               const std::vector<std::string>& args,
                               std::chrono::milliseconds startTimeout)
    : m_folder(std::move(folder))
{
    const std::string python = KESTRELLE_SYSTEM_PYTHON;
    // tests/data's parent is tests/; taken lexically, so tests/data need not exist.
    std::vector<std::string> all{
        python, (fs::path(KESTRELLE_TEST_DATA_DIR).parent_path() / "support" / script).string(),
        m_folder};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&m_pid, python.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
        m_error = "cannot start " + python;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + startTimeout;
    const std::string portFile = m_folder + "/port";
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ec;
        if (fs::exists(portFile, ec)) {
            m_port = static_cast<uint16_t>(std::stoi(TempDir::ReadFile(portFile)));
            return;
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            m_error =
                python + " " + script + " ended before listening (is python3-aiosmtpd installed?)";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_error = "aiosmtpd did not start listening in time";
}

AiosmtpdServer::~AiosmtpdServer()
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
    int status = 0;
    ::waitpid(m_pid, &status, 0);
}

void AiosmtpdServer::RefuseMessages(bool refuse)
{
    const std::string marker = m_folder + "/refuse";
    if (refuse)
        std::ofstream(marker).put('\n');
    else
        std::remove(marker.c_str());
}

std::vector<AiosmtpdServer::Message> AiosmtpdServer::Messages() const
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
    std::vector<Message> messages;
    for (const auto& name : names) {
        const std::string dir = m_folder + "/" + name + "/";
        Message m;
        m.mailFrom = TempDir::ReadFile(dir + "from");
        m.rcptTos = Lines(TempDir::ReadFile(dir + "rcpt"));
        m.data = TempDir::ReadFile(dir + "data");
        messages.push_back(std::move(m));
    }
    return messages;
}

bool AiosmtpdServer::WaitForMessages(size_t count, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (Messages().size() >= count)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
