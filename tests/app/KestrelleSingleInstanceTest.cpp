// Needs the desktop program, which is built only where its windows are.
#ifdef KESTRELLE_DESKTOP_EXE

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// Copies of the desktop program on the offscreen platform with folders of
// their own, so they meet only each other. Killed when the test ends.
class Desktop
{
public:
    // Without a runtime folder the lock goes to a folder of the temporary one.
    explicit Desktop(bool runtimeDir = true) : m_runtimeDir(runtimeDir)
    {
        for (const char* sub : {"/run", "/cfg", "/cfg/Kestrelle", "/data", "/tmp"})
            mkdir((m_dir.path() + sub).c_str(), 0700);
        TempDir::WriteFile(m_dir.path() + "/lsan.supp", "leak:libfontconfig\n");
    }
    ~Desktop()
    {
        for (pid_t pid : m_started) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

    pid_t Start(std::vector<std::string> args = {})
    {
        const std::string& d = m_dir.path();
        std::vector<std::string> env = {
            "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + d + "/cfg",
            "XDG_DATA_HOME=" + d + "/data", "TMPDIR=" + d + "/tmp", "HOME=" + d,
            std::string("USER=") + (getenv("USER") ? getenv("USER") : ""),
            // The program ends with exit(), leaving fontconfig's
            // caches to the system: not a leak of ours.
            "LSAN_OPTIONS=suppressions=" + d + "/lsan.supp"};
        if (m_runtimeDir)
            env.push_back("XDG_RUNTIME_DIR=" + d + "/run");
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
            if (const char* value = getenv(name))
                env.push_back(std::string(name) + "=" + value);
        args.insert(args.begin(), KESTRELLE_DESKTOP_EXE);
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        for (auto& e : env)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        pid_t pid = -1;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, (d + "/stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn(&pid, KESTRELLE_DESKTOP_EXE, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (pid > 0)
            m_started.push_back(pid);
        return pid;
    }

    int ExitCode(pid_t pid)
    {
        int status = 0;
        const bool ended = waitpid(pid, &status, 0) == pid;
        std::erase(m_started, pid); // reaped: its number may soon be another's
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static bool Running(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    std::string Settings() const { return TempDir::ReadFile(SettingsFile()); }
    std::string Errors() const { return TempDir::ReadFile(m_dir.path() + "/stderr"); }
    const std::string& Dir() const { return m_dir.path(); }
    void StoreMinimized(const char* value)
    {
        TempDir::WriteFile(SettingsFile(), std::string("[Kestrelle]\nbMinimized=") + value + "\n");
    }
    bool Restored() const { return Settings().find("bMinimized=0") != std::string::npos; }
    // The process the single-instance lock names.
    std::string LockOwner() const
    {
        std::ifstream in(m_dir.path() + "/run/KESTRELLE_ONLYONCE-" +
                         (getenv("USER") ? getenv("USER") : "") + "-" + std::to_string(getuid()) +
                         ".lock");
        std::string pid;
        std::getline(in, pid);
        return pid;
    }
    bool Exists(const std::string& sub) const
    {
        struct stat info;
        return stat((m_dir.path() + sub).c_str(), &info) == 0;
    }

private:
    std::string SettingsFile() const { return m_dir.path() + "/cfg/Kestrelle/Kestrelle.conf"; }
    TempDir m_dir;
    bool m_runtimeDir;
    std::vector<pid_t> m_started;
};

// Waits, never asserting how long it took, until `done` holds.
bool Eventually(const std::function<bool()>& done)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
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
        ASSERT_TRUE(Eventually([&] { return desktop.LockOwner() == std::to_string(first); }));
        EXPECT_EQ(desktop.ExitCode(desktop.Start(secondArgs)), 0);
        // The first shows its window as the tray's Options does, which
        // stores the window as shown.
        EXPECT_TRUE(Eventually([&] { return desktop.Restored(); }));
        EXPECT_TRUE(Desktop::Running(first));
        kill(first, SIGTERM); // the session ends: as Exit, without the question
        EXPECT_EQ(desktop.ExitCode(first), 0) << desktop.Errors();
    }
}

TEST(KestrelleSingleInstanceTest, UninstallAsTheOnlyCopyEndsAtOnceWritingNothing)
{
    Desktop desktop;
    EXPECT_EQ(desktop.ExitCode(desktop.Start({"-uninstall"})), 0);
    EXPECT_FALSE(desktop.Exists("/cfg/Kestrelle/Kestrelle.conf"));
    EXPECT_FALSE(desktop.Exists("/data/Kestrelle"));
}

TEST(KestrelleSingleInstanceTest, LockOfAKilledCopyIsTakenOverByTheNext)
{
    Desktop desktop;
    const pid_t killed = desktop.Start();
    ASSERT_TRUE(Eventually([&] { return desktop.LockOwner() == std::to_string(killed); }));
    kill(killed, SIGKILL);
    desktop.ExitCode(killed);

    desktop.StoreMinimized("1");
    const pid_t next = desktop.Start();
    ASSERT_TRUE(Eventually([&] { return desktop.LockOwner() == std::to_string(next); }));
    EXPECT_EQ(desktop.ExitCode(desktop.Start()), 0);
    EXPECT_TRUE(Eventually([&] { return desktop.Restored(); }));
    EXPECT_TRUE(Desktop::Running(next));
}

// A lock that another user put in the shared temporary folder, naming a
// live process, stops nothing; one in our own folder whose owner does not
// answer ends the start with a word why.
TEST(KestrelleSingleInstanceTest, OnlyALockInAFolderOfOursCounts)
{
    Desktop desktop(false);
    const std::string name = std::string("KESTRELLE_ONLYONCE-") +
                             (getenv("USER") ? getenv("USER") : "") + "-" +
                             std::to_string(getuid()) + ".lock";
    // This test's own process: alive, and named as the lock says.
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string planted = std::to_string(getpid()) + "\n" + self + "\n\n";
    TempDir::WriteFile(desktop.Dir() + "/tmp/" + name, planted);
    const std::string ours = desktop.Dir() + "/tmp/kestrelle-" + std::to_string(getuid());

    const pid_t first = desktop.Start();
    std::string owner;
    ASSERT_TRUE(Eventually([&] {
        std::ifstream in(ours + "/" + name);
        return std::getline(in, owner) && owner == std::to_string(first);
    }));
    kill(first, SIGKILL);
    desktop.ExitCode(first);

    TempDir::WriteFile(ours + "/" + name, planted);
    const pid_t second = desktop.Start();
    EXPECT_TRUE(Eventually([&] {
        return desktop.Errors().find("does not answer") != std::string::npos;
    })) << desktop.Errors();
    kill(second, SIGKILL); // the message box waits for a click
}

#endif
