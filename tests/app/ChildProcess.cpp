#include "ChildProcess.h"

#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
{
    char errTemplate[] = "/tmp/kestrelle-child-err-XXXXXX";
    const int errFd = mkstemp(errTemplate);
    if (errFd < 0)
        throw std::runtime_error("mkstemp failed");
    m_errPath = errTemplate;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(errFd);
        throw std::runtime_error("pipe failed");
    }

    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    const int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(errFd);
    m_outFd = out[0];
    if (rc != 0) {
        close(m_outFd);
        m_outFd = -1;
        m_pid = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess()
{
    if (!m_finished)
        Finish();
    std::remove(m_errPath.c_str());
}

bool ChildProcess::ReadLine(std::string& line)
{
    for (;;) {
        const auto lf = m_pending.find('\n');
        if (lf != std::string::npos) {
            line = m_pending.substr(0, lf);
            m_pending.erase(0, lf + 1);
            return true;
        }
        char buf[4096];
        const ssize_t n = m_outFd < 0 ? 0 : read(m_outFd, buf, sizeof buf);
        if (n <= 0)
            return false;
        m_pending.append(buf, static_cast<size_t>(n));
    }
}

ChildProcess::Outcome ChildProcess::Finish()
{
    Outcome outcome;
    if (m_outFd >= 0) {
        char buf[4096];
        for (ssize_t n; (n = read(m_outFd, buf, sizeof buf)) > 0;)
            m_pending.append(buf, static_cast<size_t>(n));
        close(m_outFd);
        m_outFd = -1;
    }
    outcome.out = std::exchange(m_pending, {});
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status))
        outcome.exitStatus = WEXITSTATUS(status);
    m_pid = -1;
    m_finished = true;
    outcome.err = TempDir::ReadFile(m_errPath);
    return outcome;
}

ChildProcess::Outcome ChildProcess::Run(const std::string& program,
                                        const std::vector<std::string>& args)
{
    ChildProcess child(program, args);
    return child.Finish();
}
