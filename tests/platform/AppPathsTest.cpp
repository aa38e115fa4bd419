#include "platform/AppPaths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/stat.h>

namespace {

// Sets an environment variable for one scope.
struct EnvVar
{
    EnvVar(const char* name, const char* value) : name(name)
    {
        if (const char* was = std::getenv(name))
            old = was;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvVar() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
};

TEST(AppPaths, DataFileIsTheUsersOwnInAPrivateFolder)
{
    TempDir dir;
    const std::string xdg = dir.file("data");
    const std::string home = dir.file("home");
    const struct
    {
        const char* xdgValue;
        std::string expected;
    } cases[] = {
        {xdg.c_str(), xdg + "/Kestrelle/kestrelle.dat"},
        {nullptr, home + "/.local/share/Kestrelle/kestrelle.dat"},
        {"relative/path", home + "/.local/share/Kestrelle/kestrelle.dat"}, // not absolute: unset
    };
    EnvVar homeVar("HOME", home.c_str());
    for (const auto& c : cases) {
        EnvVar xdgVar("XDG_DATA_HOME", c.xdgValue);
        EXPECT_EQ(AppPaths::DataFile(), c.expected);
        struct stat st;
        const std::string folder = std::filesystem::path(c.expected).parent_path();
        ASSERT_EQ(stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
}

TEST(AppPaths, ProgramFilesLieBesideTheExecutableInTheBuildTree)
{
    EXPECT_EQ(AppPaths::ProgramDataFile("default.wav"),
              std::filesystem::canonical("/proc/self/exe").parent_path() / "default.wav");
}

} // namespace
