// `cmake --install` of this build into a fresh prefix, checked as a user
// meets it: the files where the desktop and man look for them, and the
// installed programs running from there.

#include "ChildProcess.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kId = KESTRELLE_DESKTOP_ID;

class Installed : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto run = ChildProcess::Run(
            KESTRELLE_CMAKE_COMMAND, {"--install", KESTRELLE_BUILD_DIR, "--prefix", prefix()});
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    }

    std::string prefix() const { return dir.file("prefix"); }
    std::string at(const std::string& relative) const { return prefix() + "/" + relative; }

    TempDir dir;
};

// Width and height from a PNG's header chunk, which always comes first.
std::pair<unsigned, unsigned> PngSize(const std::string& path)
{
    const std::string bytes = TempDir::ReadFile(path);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 ||
        bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be32 = [&](size_t at) {
        unsigned v = 0;
        for (size_t i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

TEST_F(Installed, PutsEveryFileWhereTheSystemLooksForIt)
{
    std::vector<std::string> files = {
        "bin/kestrelle-check",
        "share/man/man1/kestrelle-check.1.gz",
        "share/doc/kestrelle/copyright",
        "share/doc/kestrelle/changelog.gz",
    };
    if (KESTRELLE_HAS_DESKTOP)
        files.insert(files.end(), {
                                      "bin/kestrelle",
                                      "share/man/man1/kestrelle.1.gz",
                                      "share/applications/" + kId + ".desktop",
                                      "share/metainfo/" + kId + ".metainfo.xml",
                                      "share/kestrelle/autostart/" + kId + ".desktop",
                                      "share/icons/hicolor/scalable/apps/" + kId + ".svg",
                                      "share/kestrelle/default.wav",
                                  });
    if (KESTRELLE_HAS_HELP_PAGE)
        files.push_back("share/kestrelle/Kestrelle.html");
    for (const std::string& f : files)
        EXPECT_TRUE(fs::is_regular_file(at(f))) << f;
    for (const char* program : {"bin/kestrelle-check", "bin/kestrelle"}) {
        if (fs::exists(at(program))) {
            EXPECT_EQ(access(at(program).c_str(), X_OK), 0) << program;
        }
    }

    if (!KESTRELLE_HAS_DESKTOP)
        return;
    for (unsigned size : {16u, 22u, 24u, 32u, 48u, 64u, 128u, 256u}) {
        const std::string png = "share/icons/hicolor/" + std::to_string(size) + "x" +
                                std::to_string(size) + "/apps/" + kId + ".png";
        EXPECT_EQ(PngSize(at(png)), std::make_pair(size, size)) << png;
    }
}

TEST_F(Installed, CheckerRunsFromThePrefix)
{
    const auto run = ChildProcess::Run(at("bin/kestrelle-check"), {"--help"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.out.rfind("Usage: kestrelle-check", 0), 0u) << run.out;
}

TEST_F(Installed, DesktopProgramEndsAtOnceOnUninstall)
{
    if (!KESTRELLE_HAS_DESKTOP)
        GTEST_SKIP() << "this build has no desktop program (target kestrelle)";
    // Private folders, so that the single-instance guard of a Kestrelle the
    // developer runs is neither met nor disturbed.
    for (const char* sub : {"tmp", "run", "config", "data"})
        ASSERT_EQ(mkdir(dir.file(sub).c_str(), 0700), 0) << sub;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TMPDIR", dir.file("tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.file("run").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);

    const auto run = ChildProcess::Run(at("bin/kestrelle"), {"-uninstall"});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    // Ending during start-up means nothing of the user's was written.
    for (const char* sub : {"config", "data"}) {
        for (const auto& f : fs::recursive_directory_iterator(dir.file(sub))) {
            EXPECT_FALSE(f.is_regular_file()) << f.path();
        }
    }
}

TEST_F(Installed, DesktopFilesPassTheirValidators)
{
    if (!KESTRELLE_HAS_DESKTOP)
        GTEST_SKIP() << "this build has no desktop program (target kestrelle)";
    for (const std::string& entry : {"share/applications/" + kId + ".desktop",
                                     "share/kestrelle/autostart/" + kId + ".desktop"}) {
        const auto run = ChildProcess::Run(KESTRELLE_DESKTOP_FILE_VALIDATE, {at(entry)});
        EXPECT_EQ(run.exitStatus, 0) << entry;
        EXPECT_EQ(run.out + run.err, "") << entry;
    }
    const auto run =
        ChildProcess::Run(KESTRELLE_APPSTREAMCLI, {"validate", "--no-net", "--no-color",
                                                   at("share/metainfo/" + kId + ".metainfo.xml")});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
}

} // namespace
