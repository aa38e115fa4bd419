// Needs the desktop program, which is built only where its windows are.
#ifdef KESTRELLE_DESKTOP_EXE

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
// Runs the desktop program on the offscreen platform with folders of its
// own, so it meets only the copies this test starts.
class Desktop
{
public:
    Desktop()
    {
        for (const char* sub : {"/run", "/cfg", "/data", "/tmp"}) {
            mkdir((m_dir.path() + sub).c_str(), 0700);
        }
    }

    pid_t Start(const std::vector<std::string>& args = {})
    {
        std::vector<std::string> env = {
            "QT_QPA_PLATFORM=offscreen",
            "XDG_RUNTIME_DIR=" + m_dir.path() + "/run",
            "XDG_CONFIG_HOME=" + m_dir.path() + "/cfg",
            "XDG_DATA_HOME=" + m_dir.path() + "/data",
            "TMPDIR=" + m_dir.path() + "/tmp",
            "HOME=" + m_dir.path(),
        };
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("USER=", 0) == 0 || entry.rfind("PATH=", 0) == 0)
                env.push_back(entry);
        }
        std::vector<std::string> argv = {KESTRELLE_DESKTOP_EXE};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv, cenv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        for (auto& e : env)
            cenv.push_back(e.data());
        cenv.push_back(nullptr);
        pid_t pid = -1;
        if (posix_spawn(&pid, KESTRELLE_DESKTOP_EXE, nullptr, nullptr, cargv.data(), cenv.data()) !=
            0)
            return -1;
        m_started.push_back(pid);
        return pid;
    }

    // The exit code, or -1 when it did not end normally.
    static int Wait(pid_t pid)
    {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    ~Desktop()
    {
        for (pid_t pid : m_started) {
            if (Running(pid)) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    }

    std::string ConfigFile() const { return m_dir.path() + "/cfg/Kestrelle/Kestrelle.conf"; }
    std::string Config() const
    {
        std::ifstream in(ConfigFile());
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void StoreMinimized(const std::string& value)
    {
        mkdir((m_dir.path() + "/cfg/Kestrelle").c_str(), 0700);
        std::ofstream(ConfigFile()) << "[Kestrelle]\nbMinimized=" << value << "\n";
    }
    // The copy whose process id the single-instance lock names.
    std::string LockOwner() const
    {
        std::ifstream in(m_dir.path() + "/run/KESTRELLE_ONLYONCE-" + User() + "-" +
                         std::to_string(getuid()) + ".lock");
        std::string pid;
        std::getline(in, pid);
        return pid;
    }
    const std::string& Folder() const { return m_dir.path(); }

private:
    static std::string User()
    {
        const char* user = std::getenv("USER");
        return user ? user : "";
    }

    TempDir m_dir;
    std::vector<pid_t> m_started;
};

// Waits (never asserting how long it took) until `done` holds.
bool Eventually(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool HoldsLock(const Desktop& desktop, pid_t pid)
{
    return Eventually([&] { return desktop.LockOwner() == std::to_string(pid); });
}
} // namespace

TEST(KestrelleSingleInstanceTest, SecondCopyShowsTheFirstAndEnds)
{
    for (const std::vector<std::string>& secondArgs :
         {std::vector<std::string>{}, std::vector<std::string>{"-uninstall"}}) {
        SCOPED_TRACE(secondArgs.empty() ? "no arguments" : secondArgs[0]);
        Desktop desktop;
        desktop.StoreMinimized("1");
        const pid_t first = desktop.Start();
        ASSERT_TRUE(HoldsLock(desktop, first));
        const pid_t second = desktop.Start(secondArgs);
        EXPECT_EQ(Desktop::Wait(second), 0);
        // The first copy shows its window as the tray's Options does,
        // which stores the window as shown.
        EXPECT_TRUE(
            Eventually([&] { return desktop.Config().find("bMinimized=0") != std::string::npos; }));
        EXPECT_TRUE(Desktop::Running(first));
        // The session's end closes it as Exit does.
        kill(first, SIGTERM);
        EXPECT_EQ(Desktop::Wait(first), 0);
    }
}

TEST(KestrelleSingleInstanceTest, UninstallAsTheOnlyCopyEndsAtOnceWritingNothing)
{
    Desktop desktop;
    const pid_t only = desktop.Start({"-uninstall"});
    EXPECT_EQ(Desktop::Wait(only), 0);
    struct stat info;
    EXPECT_NE(stat((desktop.Folder() + "/cfg/Kestrelle").c_str(), &info), 0);
    EXPECT_NE(stat((desktop.Folder() + "/data/Kestrelle").c_str(), &info), 0);
}

TEST(KestrelleSingleInstanceTest, LockOfAKilledCopyIsTakenOverByTheNext)
{
    Desktop desktop;
    const pid_t killed = desktop.Start();
    ASSERT_TRUE(HoldsLock(desktop, killed));
    kill(killed, SIGKILL);
    Desktop::Wait(killed);

    desktop.StoreMinimized("1");
    const pid_t next = desktop.Start();
    ASSERT_TRUE(HoldsLock(desktop, next));
    const pid_t later = desktop.Start();
    EXPECT_EQ(Desktop::Wait(later), 0);
    EXPECT_TRUE(
        Eventually([&] { return desktop.Config().find("bMinimized=0") != std::string::npos; }));
    EXPECT_TRUE(Desktop::Running(next));
}

#endif
