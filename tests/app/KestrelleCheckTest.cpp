// kestrelle-check run as a real process against a loopback server.

#include "ChildProcess.h"

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

const std::string kChecker = KESTRELLE_CHECK_EXE;

struct Site
{
    std::string url, searchText, status = "-";
};

void WriteList(const std::string& path, const std::vector<Site>& sites)
{
    SiteList list;
    for (const Site& s : sites) {
        SiteEntry e;
        e.field(SiteEntry::Url) = s.url;
        e.field(SiteEntry::Status) = s.status;
        e.field(SiteEntry::LastCheck) = "-";
        e.field(SiteEntry::SearchText) = s.searchText;
        e.field(SiteEntry::LastResponse) = "-";
        list.Append(e);
    }
    ASSERT_TRUE(DataFile::SaveSites(list, path));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t lf; (lf = text.find('\n', from)) != std::string::npos; from = lf + 1)
        lines.push_back(text.substr(from, lf - from));
    if (from < text.size())
        lines.push_back(text.substr(from) + "<no line feed>");
    return lines;
}

class KestrelleCheck : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.SetResponse("/up", ScriptedHttpServer::Response(200, "OK", {}, "<b>Open</b>"));
        server.SetResponse("/down", ScriptedHttpServer::Response(503, "Busy", {}, "later"));
        name = "127.0.0.1:" + std::to_string(server.port());
    }

    ScriptedHttpServer server;
    TempDir dir;
    std::string path = dir.file("sites.dat");
    std::string name;
};

TEST_F(KestrelleCheck, PrintsOneLinePerSiteThenTheSummary)
{
    WriteList(path, {{server.url("/up"), "Open"}, {server.url("/down"), "Open"}});
    const auto run = ChildProcess::Run(kChecker, {path});
    EXPECT_EQ(run.exitStatus, 2);
    auto lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("KESTRELLE CRITICAL - 1 of 2 sites down: " + name + " (HTTP 503)", 0),
              0u)
        << lines[0];
    lines.erase(lines.begin());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
        lines[i].erase(lines[i].rfind('\t')); // the fetch's time, which varies
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "OK\t" + name + "\t" + server.url("/up") + "\t\ttext found",
                         "ERROR\t" + name + "\t" + server.url("/down") +
                             "\tKestrelle was unable to find the text \"Open\" on " + name +
                             "\tHTTP 503 Busy",
                         "Sites: 2, OK: 1, ERROR: 1",
                     }));
    EXPECT_EQ(run.err, "");
}

TEST_F(KestrelleCheck, ExitStatusIsTheWorstOutcome)
{
    const struct
    {
        const char* name;
        std::vector<Site> sites;
        int status;
        std::string summary;
    } cases[] = {
        {"empty list", {}, 0, "Sites: 0, OK: 0, ERROR: 0"},
        {"all OK",
         {{server.url("/up"), "Open"}, {server.url("/up"), ""}},
         0,
         "Sites: 2, OK: 2, ERROR: 0"},
        {"one down",
         {{server.url("/up"), "Open"}, {"http://127.0.0.1:1/", "Open"}},
         2,
         "Sites: 2, OK: 1, ERROR: 1"},
        {"case matters", {{server.url("/up"), "open"}}, 2, "Sites: 1, OK: 0, ERROR: 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteList(path, c.sites);
        const auto run = ChildProcess::Run(kChecker, {path});
        EXPECT_EQ(run.exitStatus, c.status);
        const auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), c.sites.size() + 2);
        EXPECT_EQ(lines.back(), c.summary);
    }
}

TEST_F(KestrelleCheck, SavesOnlyWhenAsked)
{
    WriteList(path, {{server.url("/up"), "Open"}, {server.url("/down"), "Open"}});
    const std::string before = TempDir::ReadFile(path);

    auto run = ChildProcess::Run(kChecker, {path});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(TempDir::ReadFile(path), before);

    run = ChildProcess::Run(kChecker, {"--save", path});
    EXPECT_EQ(run.exitStatus, 2);
    SiteList saved;
    ASSERT_TRUE(DataFile::LoadSites(saved, path));
    ASSERT_EQ(saved.RowCount(), 2);
    EXPECT_EQ(saved.Text(0, SiteEntry::Status), "OK");
    EXPECT_EQ(saved.Text(0, SiteEntry::LastResponse), "<b>Open</b>");
    EXPECT_NE(saved.Text(0, SiteEntry::LastCheck), "-");
    EXPECT_EQ(saved.Text(1, SiteEntry::Status), "ERROR");
    EXPECT_EQ(saved.Text(1, SiteEntry::LastResponse), "later");

    // The saved ERROR is what the next run starts from; the site is back.
    server.SetResponse("/down", ScriptedHttpServer::Response(200, "OK", {}, "Open again"));
    run = ChildProcess::Run(kChecker, {path, "--save"});
    EXPECT_EQ(run.exitStatus, 0);
    SiteList again;
    ASSERT_TRUE(DataFile::LoadSites(again, path));
    EXPECT_EQ(again.Text(1, SiteEntry::Status), "OK");
}

TEST_F(KestrelleCheck, WithoutANetworkExits3AndSavesNothing)
{
    // In a network namespace of its own nothing the checker sends can leave
    // the computer; documentation addresses need no resolver.
    if (geteuid() != 0 || std::system("unshare -n true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs root and unshare -n (util-linux)";
    WriteList(path,
              {{"http://192.0.2.1/", "Open", "OK"}, {"http://[2001:db8::1]/", "Open", "ERROR"}});
    const std::string before = TempDir::ReadFile(path);
    const auto run = ChildProcess::Run("/usr/bin/unshare", {"-n", kChecker, "--save", path});
    EXPECT_EQ(run.exitStatus, 3) << run.err;
    const auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    EXPECT_EQ(lines[0].rfind("KESTRELLE UNKNOWN - network unreachable | ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "NOT CHECKED\t192.0.2.1\thttp://192.0.2.1/");
    EXPECT_EQ(lines[3], "Sites: 2, OK: 0, ERROR: 0, NOT CHECKED: 2");
    EXPECT_EQ(TempDir::ReadFile(path), before);
}

TEST_F(KestrelleCheck, WrongCommandLinesAndUnreadableFilesExitWith3)
{
    WriteList(path, {{server.url("/up"), "Open"}});
    const std::string before = TempDir::ReadFile(path);
    const struct
    {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"--bogus", path},
         "kestrelle-check: unknown option '--bogus' (try kestrelle-check --help)"},
        {{path, path}, "kestrelle-check: only one FILE can be checked"},
        {{dir.file("missing.dat")}, "kestrelle-check: cannot read " + dir.file("missing.dat")},
        {{"--save", dir.file("missing.dat")},
         "kestrelle-check: cannot read " + dir.file("missing.dat")},
        {{dir.path()}, "Kestrelle: cannot read the site list " + dir.path()},
        // Opening a FIFO would wait for a writer for ever.
        {{"--save", dir.file("fifo")},
         "Kestrelle: cannot read the site list " + dir.file("fifo") + ": it is not a regular file"},
    };
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto run = ChildProcess::Run(kChecker, c.args);
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.rfind(c.message, 0), 0u) << run.err;
        EXPECT_EQ(run.err.back(), '\n');
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "more than one line";
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.dat")));
    EXPECT_TRUE(std::filesystem::is_fifo(dir.file("fifo")));
    EXPECT_EQ(TempDir::ReadFile(path), before);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(KestrelleCheck, AFailedSaveGives3UnlessASiteIsDown)
{
    const struct
    {
        const char* page;
        int status;
    } cases[] = {{"/up", 3}, {"/down", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.page);
        chmod(path.c_str(), 0644);
        WriteList(path, {{server.url(c.page), "Open"}});
        chmod(path.c_str(), 0444); // read-only: the save must fail
        const std::string before = TempDir::ReadFile(path);
        const auto run = ChildProcess::Run(kChecker, {"--save", path});
        EXPECT_EQ(run.exitStatus, c.status);
        EXPECT_EQ(run.err,
                  "Kestrelle: cannot save the site list to " + path + ": it is read-only\n");
        EXPECT_EQ(TempDir::ReadFile(path), before);
    }
}

TEST_F(KestrelleCheck, DeviceNodesAreNeitherReadNorReplaced)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "making device nodes needs root";
    // Twins of /dev/zero (endless) and /dev/null, in the test's own folder.
    ASSERT_EQ(mknod(dir.file("zero").c_str(), S_IFCHR | 0666, makedev(1, 5)), 0);
    ASSERT_EQ(mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    for (const char* name : {"zero", "null"}) {
        SCOPED_TRACE(name);
        const auto run = ChildProcess::Run(kChecker, {"--save", dir.file(name)});
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_EQ(run.err, "Kestrelle: cannot read the site list " + dir.file(name) +
                               ": it is not a regular file\n");
        struct stat st;
        ASSERT_EQ(lstat(dir.file(name).c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
}

TEST_F(KestrelleCheck, HelpPrintsTheUsage)
{
    const auto run = ChildProcess::Run(kChecker, {"--help"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.rfind("Usage: kestrelle-check [--save] [--mail] [FILE]\n", 0), 0u);
    EXPECT_EQ(run.err, "");
}

TEST_F(KestrelleCheck, WithoutFileChecksTheUsersOwnList)
{
    const std::string data = dir.file("data");
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string oldValue = old ? old : "";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    const std::string own = data + "/Kestrelle/kestrelle.dat";

    auto run = ChildProcess::Run(kChecker, {});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Lines(run.out).back(), "Sites: 0, OK: 0, ERROR: 0");
    EXPECT_FALSE(std::filesystem::exists(own));

    WriteList(own, {{server.url("/up"), "Open"}});
    run = ChildProcess::Run(kChecker, {"--save"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(Lines(run.out).size(), 3u);
    SiteList saved;
    ASSERT_TRUE(DataFile::LoadSites(saved, own));
    EXPECT_EQ(saved.Text(0, SiteEntry::Status), "OK");
    if (old)
        setenv("XDG_DATA_HOME", oldValue.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

} // namespace

namespace {

// The desktop program changes the list while the checker's pass runs: the
// checker's save writes its outcomes into the file as it is by then.
TEST_F(KestrelleCheck, SaveKeepsWhatAnotherProgramChangedDuringThePass)
{
    std::mutex m;
    std::condition_variable cv;
    bool asked = false, edited = false;
    server.SetHandler("/held", [&](const std::string&) {
        std::unique_lock lock(m);
        asked = true;
        cv.notify_all();
        cv.wait_for(lock, std::chrono::seconds(20), [&] { return edited; });
        return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(200, "OK", {}, "Open"));
    });
    WriteList(path, {{server.url("/held"), "Open"}, {"http://removed.test/", "x"}});

    ChildProcess child(kChecker, {"--save", path});
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(20), [&] { return asked; }));
    }
    WriteList(path, {{"http://added.test/", "typed"}, {server.url("/held"), "Open"}});
    {
        std::lock_guard lock(m);
        edited = true;
        cv.notify_all();
    }
    EXPECT_EQ(child.Finish().exitStatus, 2); // removed.test cannot be reached

    SiteList saved;
    ASSERT_TRUE(DataFile::LoadSites(saved, path));
    ASSERT_EQ(saved.RowCount(), 2);
    EXPECT_EQ(saved.Text(0, SiteEntry::Url), "http://added.test/");
    EXPECT_EQ(saved.Text(0, SiteEntry::Status), "-");
    EXPECT_EQ(saved.Text(1, SiteEntry::Url), server.url("/held"));
    EXPECT_EQ(saved.Text(1, SiteEntry::Status), "OK");
    EXPECT_EQ(saved.Text(1, SiteEntry::LastResponse), "Open");
}

// A host name in another script works as it does in the desktop program.
// Every name under "localhost" is this machine's: nothing leaves it.
TEST_F(KestrelleCheck, UnicodeHostNamesAreReached)
{
    const std::string url = "http://b\xC3\xBC"
                            "cher.localhost:" +
                            std::to_string(server.port()) + "/up";
    WriteList(path, {{url, "Open"}});
    const auto run = ChildProcess::Run(kChecker, {path});
    EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
    EXPECT_EQ(server.RequestCount(), 1u);
}

} // namespace

namespace {

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The time limit cuts a stalled pass short: what was checked is reported,
// the rest as not checked.
TEST_F(KestrelleCheck, TimeLimitReportsTheRestAsNotChecked)
{
    ScriptedHttpServer::Script stalled;
    stalled.steps = {{"HTTP/1.0 200 OK\r\n\r\nOpen", std::chrono::seconds(30)}};
    server.SetScript("/stalled", stalled);
    const struct
    {
        std::vector<Site> sites;
        int status;
        std::string start, notChecked, summary;
    } cases[] = {
        {{{server.url("/down"), "Open"},
          {server.url("/stalled"), "Open"},
          {server.url("/up"), "Open"}},
         2,
         "KESTRELLE CRITICAL - 1 of 3 sites down: " + name + " (",
         "; 2 of 3 sites not checked: the time limit of 1 s ran out | ",
         "Sites: 3, OK: 0, ERROR: 1, NOT CHECKED: 2"},
        {{{server.url("/up"), "Open"}, {server.url("/stalled"), "Open"}},
         3,
         "KESTRELLE UNKNOWN - 1 of 2 sites not checked: the time limit of 1 s ran out | ",
         "'sites_not_checked'=1;;;0;2",
         "Sites: 2, OK: 1, ERROR: 0, NOT CHECKED: 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        WriteList(path, c.sites);
        // One at a time, so that the stalled site keeps the next from being checked.
        const auto run = ChildProcess::Run(kChecker, {"-t", "1", "--parallel", "1", path});
        EXPECT_EQ(run.exitStatus, c.status);
        const auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), c.sites.size() + 2) << run.out;
        EXPECT_TRUE(StartsWith(lines[0], c.start)) << lines[0];
        EXPECT_NE(lines[0].find(c.notChecked), std::string::npos) << lines[0];
        EXPECT_EQ(lines[c.sites.size()], "NOT CHECKED\t" + name + "\t" + c.sites.back().url);
        EXPECT_EQ(lines.back(), c.summary);
    }
}

TEST_F(KestrelleCheck, OneSiteFromTheCommandLine)
{
    ScriptedHttpServer::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\n", std::chrono::milliseconds(300)}, {"Open", {}}};
    server.SetScript("/slow", slow);
    // The user's own list cannot be read: a run that tried would fail.
    const std::string data = dir.file("data");
    std::filesystem::create_directories(data + "/Kestrelle/kestrelle.dat");
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string oldValue = old ? old : "";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    const struct
    {
        const char* path;
        std::vector<std::string> limits;
        int status;
        std::string start;
    } cases[] = {
        {"/up", {}, 0, "KESTRELLE OK - 1 site up | 'sites_up'=1;;;0;1 "},
        {"/slow", {"-w", "0.1"}, 1, "KESTRELLE WARNING - 1 of 1 site slower than 0.1 s: " + name},
        {"/slow",
         {"-w", "0.1", "-c", "0.2"},
         2,
         "KESTRELLE CRITICAL - 1 of 1 site slower than 0.2 s: " + name},
        {"/down", {}, 2, "KESTRELLE CRITICAL - 1 of 1 site down: " + name + " ("},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start);
        std::vector<std::string> args = {"-u", server.url(c.path), "--string", "Open"};
        args.insert(args.end(), c.limits.begin(), c.limits.end());
        const auto run = ChildProcess::Run(kChecker, args);
        EXPECT_EQ(run.exitStatus, c.status) << run.err;
        const auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;
        EXPECT_TRUE(StartsWith(lines[0], c.start)) << lines[0];
        EXPECT_TRUE(StartsWith(lines[1], (c.status == 2 && c.limits.empty() ? "ERROR\t" : "OK\t") +
                                             name + "\t" + server.url(c.path)));
    }
    if (old)
        setenv("XDG_DATA_HOME", oldValue.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
    // Nothing was saved there either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(data + "/Kestrelle"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(KestrelleCheck, MetricsFileIsValidAndReplacedWhole)
{
    const std::string withPassword = "http://user:secret@" + name + "/down";
    WriteList(path, {{server.url("/up"), "Open"}, {withPassword, "Open"}});
    const std::string metrics = dir.file("metrics/kestrelle.prom");
    std::filesystem::create_directories(dir.file("metrics"));
    auto run = ChildProcess::Run(kChecker, {"--metrics", metrics, path});
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.err, "");
    const std::string first = TempDir::ReadFile(metrics);
    const std::string labels = "{site=\"" + name + "\",url=\"";
    EXPECT_NE(first.find("kestrelle_site_up" + labels + server.url("/up") + "\"} 1\n"),
              std::string::npos)
        << first;
    EXPECT_NE(first.find("kestrelle_site_up{site=\"user@" + name + "\",url=\"http://user@" + name +
                         "/down\"} 0\n"),
              std::string::npos)
        << first;
    EXPECT_EQ(first.find("secret"), std::string::npos);

    // A reader that opened the old file keeps reading it whole: the new one
    // comes by a rename, and no temporary file stays behind.
    std::filesystem::create_hard_link(metrics, dir.file("metrics/reader"));
    server.SetResponse("/down", ScriptedHttpServer::Response(200, "OK", {}, "Open"));
    run = ChildProcess::Run(kChecker, {"--metrics", metrics, path});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(TempDir::ReadFile(dir.file("metrics/reader")), first);
    EXPECT_NE(TempDir::ReadFile(metrics).find("/down\"} 1\n"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("metrics")),
                            std::filesystem::directory_iterator()),
              2);

    if (std::system("command -v promtool >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "promtool (Debian's prometheus) is not installed";
    EXPECT_EQ(std::system(("promtool check metrics < '" + metrics + "'").c_str()), 0);
}

} // namespace
