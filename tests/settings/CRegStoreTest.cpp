#include "StoreTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// --- A second process -------------------------------------------------------
// The test executable runs itself again with KESTRELLE_STORE_CHILD set: the
// environment below then does the child's part before any test and exits.

constexpr const char* kChildVar = "KESTRELLE_STORE_CHILD";
// Any one quick test: the environment runs only when some test is selected.
constexpr const char* kChildFilter = "--gtest_filter=CRegStore.DecimalConversion";

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

[[noreturn]] void RunChild(const std::string& mode)
{
    const std::string prefix = Env("KESTRELLE_STORE_PREFIX");
    const int count = std::atoi(Env("KESTRELLE_STORE_COUNT").c_str());
    const std::string gate = Env("KESTRELLE_STORE_GATE");
    while (!gate.empty() && !fs::exists(gate))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (mode == "lock-and-die") {
        // Dies holding the writers' lock, as a crashed writer would.
        const int fd = open((CRegStore::FilePath() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
        std::_Exit(fd >= 0 && flock(fd, LOCK_EX) == 0 ? 0 : 1);
    }
    bool ok = true;
    for (int i = 0; mode == "write-forever" || i < count; ++i)
        ok = Write(prefix + std::to_string(i), prefix + " value " + std::to_string(i)) && ok;
    std::_Exit(ok ? 0 : 1);
}

class ChildOrSafeDefaults : public ::testing::Environment
{
public:
    void SetUp() override
    {
        const std::string mode = Env(kChildVar);
        if (!mode.empty())
            RunChild(mode);
        // Whatever a test of this executable forgets, the user's own
        // configuration folder stays out of reach.
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"))
            m_savedXdg = xdg;
        m_home = std::make_unique<TempDir>();
        setenv("XDG_CONFIG_HOME", m_home->path().c_str(), 1);
    }
    // Google Test never deletes its environments: the folder goes here.
    void TearDown() override
    {
        if (m_savedXdg)
            setenv("XDG_CONFIG_HOME", m_savedXdg->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
        m_home.reset();
    }

private:
    std::unique_ptr<TempDir> m_home;
    std::optional<std::string> m_savedXdg;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ChildOrSafeDefaults);

// Starts the test executable as a child writing to the store in
// `configHome`, its output thrown away.
pid_t StartChild(const std::string& configHome, const std::string& mode,
                 const std::string& prefix = "", int count = 0, const std::string& gate = "")
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_CONFIG_HOME=", 0) != 0 && entry.rfind("KESTRELLE_STORE_", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("XDG_CONFIG_HOME=" + configHome);
    env.push_back(std::string(kChildVar) + "=" + mode);
    env.push_back("KESTRELLE_STORE_PREFIX=" + prefix);
    env.push_back("KESTRELLE_STORE_COUNT=" + std::to_string(count));
    env.push_back("KESTRELLE_STORE_GATE=" + gate);
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe", filter = kChildFilter;
    char* argv[] = {exe.data(), filter.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int ExitCode(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

unsigned Mode(const std::string& path)
{
    struct stat st
    {
    };
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// --- Tests ------------------------------------------------------------------

TEST(CRegStore, DecimalConversion)
{
    const struct
    {
        const char* text;
        int value;
    } cases[] = {
        {"42", 42},
        {" \t\n42", 42},
        {"+5", 5},
        {"-7x", -7},
        {"12 34", 12},
        {"abc", 0},
        {"- 5", 0},
        {"0x10", 0},
        {" ", 0},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"99999999999999999999", INT_MAX},
        {"-99999999999999999999", INT_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRegStore::DecimalValue(c.text), c.value) << '"' << c.text << '"';
}

TEST(CRegStore, MissingEmptyAndHyphenReadAsNothing)
{
    TempStore store;
    EXPECT_EQ(Read("m_Minutes"), "");
    EXPECT_EQ(CRegStore::ReadInt(CRegStore::kProductKey, "bMinimized"), -1);
    EXPECT_FALSE(fs::exists(store.folder())) << "a read must not create anything";

    const struct
    {
        const char* stored;
        const char* text;
        int number;
    } cases[] = {
        {"", "", -1}, {"-", "", -1}, {"--", "--", 0}, {" -", " -", 0}, {"1", "1", 1}, {"2", "2", 2},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Write("bMinimized", c.stored));
        EXPECT_EQ(Read("bMinimized"), c.text) << '"' << c.stored << '"';
        EXPECT_EQ(CRegStore::ReadInt(CRegStore::kProductKey, "bMinimized"), c.number);
    }
    // Only the user's Software key is held, one group per key.
    EXPECT_EQ(CRegStore::ReadString(RegRoot::CurrentUser, "System", "Kestrelle", "bMinimized"), "");
    EXPECT_EQ(CRegStore::ReadString(RegRoot::CurrentUser, "software", "Kestrelle", "bMinimized"),
              "2");
    EXPECT_EQ(CRegStore::ReadString(RegRoot::CurrentUser, "Software", "Other", "bMinimized"), "");
}

TEST(CRegStore, AwkwardTextsComeBackExactly)
{
    TempStore store;
    const std::string texts[] = {
        "C:\\sounds\\bell.wav",
        "a\\\\b\\",
        "x=y=z",
        "#not a comment",
        ";nor this",
        "  leading blanks",
        "trailing ",
        "\"quoted\"",
        "a, b",
        "a,b",
        "@at",
        "@ByteArray(x)",
        "[Kestrelle]",
        "line\nbreak\r\n",
        "tab\there",
        std::string("nul\0inside", 10),
        "\x01\x7f",
        "caf\xc3\xa9 \xe2\x82\xac",
        "latin1 caf\xe9",
        "\xff\xfe\x80",
        "%41%",
        "true",
        "0",
    };
    for (const std::string& text : texts)
        ASSERT_TRUE(Write("m_EmailPassword", text));
    // Each one written under a name of its own, then all read back at once.
    for (std::size_t i = 0; i < std::size(texts); ++i)
        ASSERT_TRUE(Write("v" + std::to_string(i), texts[i]));
    for (std::size_t i = 0; i < std::size(texts); ++i)
        EXPECT_EQ(Read("v" + std::to_string(i)), texts[i]) << "text " << i;
    // Hand editing still sees plain lines.
    const std::string file = TempDir::ReadFile(store.file());
    EXPECT_NE(file.find("[Kestrelle]\n"), std::string::npos);
    EXPECT_NE(file.find("v22=0\n"), std::string::npos) << file;
}

TEST(CRegStore, NamesIgnoreCaseAndTheLastWrittenSpellingWins)
{
    const struct
    {
        const char* file;
        const char* read;
    } cases[] = {
        {"[Kestrelle]\nm_EnableEMail=1\nm_EnableEmail=0\n", "0"},
        {"[Kestrelle]\nm_EnableEmail=0\nm_EnableEMail=1\n", "1"},
        {"[Kestrelle]\r\nm_EnableEmail = 0\r\nbMinimized=1\r\nm_EnableEMail = 1\r\n", "1"},
        {"[Kestrelle]\nm_enableemail=3\n[Other]\nm_EnableEmail=4\n", "3"},
    };
    for (const auto& c : cases) {
        TempStore store;
        store.HandWrite(c.file);
        EXPECT_EQ(Read("m_EnableEmail"), c.read) << c.file;
        EXPECT_EQ(Read("M_ENABLEEMAIL"), c.read) << c.file;
        ASSERT_TRUE(Write("iShowBalloonTimes", "1"));
        EXPECT_EQ(Read("m_EnableEmail"), c.read) << c.file;
        // A write replaces every spelling.
        ASSERT_TRUE(Write("m_EnableEMail", "7"));
        EXPECT_EQ(CRegStore::ReadInt(CRegStore::kProductKey, "m_EnableEmail"), 7);
        const std::string after = TempDir::ReadFile(store.file());
        const std::string group = after.substr(0, after.find("[Other]"));
        EXPECT_EQ(group.find("m_EnableEmail"), std::string::npos) << after;
        EXPECT_EQ(group.find("m_enableemail"), std::string::npos) << after;
        EXPECT_NE(group.find("m_EnableEMail=7"), std::string::npos) << after;
    }
}

TEST(CRegStore, SizeLimits)
{
    TempStore store;
    // Read buffer: 1,000 bytes with the terminator.
    ASSERT_TRUE(Write("m_EmailServer", std::string(998, 's')));
    EXPECT_EQ(Read("m_EmailServer"), std::string(998, 's'));
    ASSERT_TRUE(Write("m_EmailServer", std::string(999, 's')));
    EXPECT_EQ(Read("m_EmailServer"), "");
    EXPECT_EQ(CRegStore::ReadInt(CRegStore::kProductKey, "m_EmailServer"), -1);

    // Write limit: 9,999 characters are stored, more are refused whole.
    ASSERT_TRUE(Write("m_EmailPassword", "kept"));
    EXPECT_TRUE(Write("m_EmailUsername", std::string(9999, 'u')));
    const std::string before = TempDir::ReadFile(store.file());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Write("m_EmailPassword", std::string(10000, 'p')));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("m_EmailPassword"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(TempDir::ReadFile(store.file()), before);
    EXPECT_EQ(Read("m_EmailPassword"), "kept");
}

TEST(CRegStore, NamesALineCannotHoldAreRefused)
{
    TempStore store;
    for (const char* name : {"", "a=b", " lead", "trail ", "[x", ";x", "#x", "x\\", "a\nb"}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(Write(name, "1")) << '"' << name << '"';
        EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
    }
    // Separators are plain characters of a name now.
    ASSERT_TRUE(Write("a/b\\c", "5"));
    EXPECT_EQ(Read("A/B\\C"), "5");
    // A nested key is a group of its own.
    ASSERT_TRUE(CRegStore::WriteString("Kestrelle\\Sub", "bMinimized", "5"));
    EXPECT_EQ(
        CRegStore::ReadString(RegRoot::CurrentUser, "Software", "Kestrelle\\Sub", "bMinimized"),
        "5");
    EXPECT_EQ(Read("bMinimized"), "");
}

TEST(CRegStore, FileIsTheOwnersOnlyAfterEveryWrite)
{
    TempStore store;
    const mode_t oldMask = umask(022);
    ASSERT_TRUE(Write("m_EmailPassword", "secret"));
    EXPECT_EQ(Mode(store.file()), 0600u);
    EXPECT_EQ(Mode(store.folder()), 0700u);
    fs::permissions(store.file(), fs::perms::owner_read | fs::perms::owner_write |
                                      fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(Write("m_EmailPassword", "secret2"));
    EXPECT_EQ(Mode(store.file()), 0600u);
    umask(oldMask);
    // Nothing but the writers' lock is left beside the file.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(store.folder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Kestrelle.conf", "Kestrelle.conf.lock"}));
    EXPECT_EQ(Mode(store.file() + ".lock"), 0600u);
}

TEST(CRegStore, WritesReplaceTheFileAndNeverChangeItInPlace)
{
    TempStore store;
    ASSERT_TRUE(Write("m_EmailServer", "old.example"));
    // The old file stays readable, whole, through a link to it.
    const std::string held = store.configHome() + "/held.conf";
    fs::create_hard_link(store.file(), held);
    const std::string before = TempDir::ReadFile(held);
    ASSERT_TRUE(Write("m_EmailServer", "new.example"));
    EXPECT_EQ(TempDir::ReadFile(held), before);
    EXPECT_EQ(Read("m_EmailServer"), "new.example");
}

TEST(CRegStore, FollowsXdgConfigHomeAtEachOperation)
{
    const std::string saved = CRegStore::SetConfigFolderForTests("");
    const std::string savedXdg = Env("XDG_CONFIG_HOME"), savedHome = Env("HOME");
    TempDir a, b;
    setenv("XDG_CONFIG_HOME", a.path().c_str(), 1);
    EXPECT_EQ(CRegStore::FilePath(), a.path() + "/Kestrelle/Kestrelle.conf");
    ASSERT_TRUE(Write("bMinimized", "1"));
    EXPECT_TRUE(fs::exists(a.path() + "/Kestrelle/Kestrelle.conf"));
    setenv("XDG_CONFIG_HOME", b.path().c_str(), 1);
    EXPECT_EQ(Read("bMinimized"), "");
    // Unset or relative: the home folder's .config.
    setenv("HOME", a.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", "relative/dir", 1);
    EXPECT_EQ(CRegStore::FilePath(), a.path() + "/.config/Kestrelle/Kestrelle.conf");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(CRegStore::FilePath(), a.path() + "/.config/Kestrelle/Kestrelle.conf");
    setenv("HOME", savedHome.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    CRegStore::SetConfigFolderForTests(saved);
}

TEST(CRegStore, TwoProcessesWritingAtOnceLoseNothing)
{
    TempStore store;
    ASSERT_TRUE(Write("m_Minutes", "30"));
    const std::string gate = store.configHome() + "/go";
    constexpr int kEach = 25;
    const pid_t a = StartChild(store.configHome(), "write", "a", kEach, gate);
    const pid_t b = StartChild(store.configHome(), "write", "b", kEach, gate);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    TempDir::WriteFile(gate, "");
    EXPECT_EQ(ExitCode(a), 0);
    EXPECT_EQ(ExitCode(b), 0);
    int lost = 0;
    for (const char* prefix : {"a", "b"})
        for (int i = 0; i < kEach; ++i)
            lost += Read(prefix + std::to_string(i)) !=
                    prefix + std::string(" value ") + std::to_string(i);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(Read("m_Minutes"), "30");
    EXPECT_EQ(Mode(store.file()), 0600u);
}

TEST(CRegStore, AWriterThatDiesLeavesAWholeFileAndNoStuckLock)
{
    TempStore store;
    ASSERT_TRUE(Write("m_EmailAddress", "ann@example.org"));

    // Killed at whatever point of a write it has reached.
    const pid_t writer = StartChild(store.configHome(), "write-forever", "k");
    ASSERT_GT(writer, 0);
    while (Read("k5").empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(writer, SIGKILL);
    EXPECT_EQ(ExitCode(writer), -1);
    int written = 0;
    while (!Read("k" + std::to_string(written)).empty())
        ++written;
    EXPECT_GE(written, 6);
    EXPECT_EQ(Read("k" + std::to_string(written + 1)), "") << "values were written out of order";
    EXPECT_EQ(Read("m_EmailAddress"), "ann@example.org");

    // Dead while holding the lock.
    const pid_t holder = StartChild(store.configHome(), "lock-and-die");
    ASSERT_GT(holder, 0);
    EXPECT_EQ(ExitCode(holder), 0);
    EXPECT_TRUE(fs::exists(store.file() + ".lock"));
    EXPECT_TRUE(Write("m_EmailAddress", "bob@example.org"));
    EXPECT_EQ(Read("m_EmailAddress"), "bob@example.org");

    // A new file a killed writer left beside the settings holds the
    // password: the next write removes it, and nothing else.
    const std::string leftover = store.folder() + "/.Kestrelle.conf.new-AbC123";
    const std::string others = store.folder() + "/notes.txt";
    TempDir::WriteFile(leftover, "[Kestrelle]\nm_EmailPassword=secret\n");
    TempDir::WriteFile(others, "mine");
    ASSERT_TRUE(Write("bMinimized", "0"));
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(others));
}

TEST(CRegStore, AHandWrittenFileReadsAsTypedAndKeepsItsOwnLines)
{
    TempStore store;
    const std::string head = "; my settings, edited by hand\n"
                             "\n"
                             "[Other]\n"
                             "m_EmailPassword=not ours\n"
                             "[Kestrelle]\n"
                             "# the password has a semicolon and a hash in it\n"
                             "m_EmailPassword=p;ss#1\n"
                             "m_EmailServer = smtp.example.org \n"
                             "m_EmailAddress=\"Ann\" <ann@example.org>, x\n"
                             "WavPathname=C:\\new\\tone.wav\n";
    const std::string tail = "\n; kept too\n";
    store.HandWrite(head + tail);
    const struct
    {
        const char* name;
        const char* text;
    } cases[] = {
        {"m_EmailPassword", "p;ss#1"},
        {"m_EmailServer", "smtp.example.org"},
        {"m_EmailAddress", "\"Ann\" <ann@example.org>, x"},
        {"WavPathname", "C:\\new\\tone.wav"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(c.name), c.text) << c.name;

    ASSERT_TRUE(Write("m_Minutes", "15"));
    EXPECT_EQ(TempDir::ReadFile(store.file()), head + "m_Minutes=15\n" + tail);
    for (const auto& c : cases)
        EXPECT_EQ(Read(c.name), c.text) << c.name;
}

TEST(CRegStore, AFileThatIsNoRegularFileIsNeitherReadNorReplaced)
{
    TempStore store;
    fs::create_directories(store.folder());
    ASSERT_EQ(mkfifo(store.file().c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Read("m_EmailServer"), "");
    EXPECT_EQ(Read("m_EmailPort"), "");
    EXPECT_FALSE(Write("m_EmailServer", "smtp.example.org"));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_NE(said.find("not a regular file"), std::string::npos) << said;
    EXPECT_TRUE(fs::is_fifo(store.file()));
}

} // namespace
