// kestrelle-check --save --mail as cron runs it: a real process, a settings
// folder and a data file of its own, a loopback site and a real SMTP server.

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "support/AiosmtpdServer.h"
#include "support/ScriptedHttpServer.h"
#include "support/ScriptedSmtpServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Runs the checker with the given arguments, standard output and error into
// files of `dir`, the settings store pointed at `configHome`. With
// `closedOutput`, standard output is a pipe whose reader has gone, as after
// `| head -1`. Returns the exit status, or -1 when it did not run or did not
// exit (a signal).
int RunChecker(const TempDir& dir, const std::string& configHome,
               const std::vector<std::string>& args, bool closedOutput = false)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("XDG_CONFIG_HOME=", 0) != 0 && var.rfind("HOME=", 0) != 0)
            env.push_back(var);
    }
    env.push_back("XDG_CONFIG_HOME=" + configHome);
    env.push_back("HOME=" + configHome); // never the user's own folder
    std::vector<char*> envp;
    for (std::string& var : env)
        envp.push_back(var.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStore{KESTRELLE_CHECK_EXE};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argStore)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    int pipeFds[2] = {-1, -1};
    if (closedOutput) {
        if (pipe2(pipeFds, O_CLOEXEC) != 0)
            return -1;
        close(pipeFds[0]);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (closedOutput)
        close(pipeFds[1]);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(CheckMail, OneMessagePerOutageAcrossRuns)
{
    TempDir config, mailbox, work;
    AiosmtpdServer smtp(mailbox.path());
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error();
    ScriptedHttpServer site;
    const std::string up = ScriptedHttpServer::Response(200, "OK", {}, "<h1>Welcome</h1>");
    const std::string down = ScriptedHttpServer::Response(503, "Busy", {}, "<h1>Later</h1>");

    // The store as a user would write it by hand.
    std::filesystem::create_directories(config.path() + "/Kestrelle");
    TempDir::WriteFile(config.path() + "/Kestrelle/Kestrelle.conf",
                       "[Kestrelle]\n"
                       "m_EnableEMail=1\n"
                       "m_EmailServer=127.0.0.1\n"
                       "m_EmailPort=" +
                           std::to_string(smtp.Port()) +
                           "\n"
                           "m_EmailAddress=me@home.test\n");
    const std::string url = site.url("/shop");
    const std::string data = work.file("kestrelle.dat");
    TempDir::WriteFile(data, url + "\r\n-\r\n-\r\nWelcome\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n"
                                   "ops@site.test\r\n");
    const std::vector<std::string> args{"--save", "--mail", data};

    // The checker waits for its mail before it ends, so what has not arrived
    // when it has exited is not coming.
    const struct
    {
        const std::string& page;
        int exit;
        size_t messages;
    } runs[] = {
        {down, 2, 1}, // the outage begins: one message
        {down, 2, 1}, // still down: nothing more
        {up, 0, 1},   // back: the outage ends, nothing sent
        {down, 2, 2}, // a new outage: one message again
    };
    int n = 0;
    for (const auto& run : runs) {
        ++n;
        site.SetResponse("/shop", run.page);
        ASSERT_EQ(RunChecker(work, config.path(), args), run.exit)
            << "run " << n << ": " << TempDir::ReadFile(work.file("stderr"));
        EXPECT_EQ(smtp.Messages().size(), run.messages) << "run " << n;
    }

    const std::string name = "127.0.0.1:" + std::to_string(site.port());
    for (const AiosmtpdServer::Message& m : smtp.Messages()) {
        EXPECT_EQ(m.mailFrom, "me@home.test");
        EXPECT_EQ(m.rcptTos, std::vector<std::string>{"ops@site.test"});
        EXPECT_NE(m.data.find("From: \"Kestrelle\" <me@home.test>\r\nTo: <ops@site.test>\r\n"),
                  std::string::npos)
            << m.data;
        EXPECT_NE(m.data.find("\r\nSubject: " + name + " may be down\r\n"), std::string::npos)
            << m.data;
        const std::regex body(
            "\r\n\r\n"
            "\r\nThis is an automatic alert generated by Kestrelle\\.\r\n\r\n"
            "\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d [AP]M\r\n"
            "Kestrelle was unable to find the text \"Welcome\" on " +
            std::regex_replace(name, std::regex("\\."), "\\.") + "\r\nYour web site " +
            std::regex_replace(name, std::regex("\\."), "\\.") +
            " may be down\\. Please verify there are no problems with your "
            "web site\\.\r\n"
            "URL: " +
            std::regex_replace(url, std::regex("\\."), "\\.") + "\r\nReason: [^\r\n]+\r\n(\r\n)?$");
        EXPECT_TRUE(std::regex_search(m.data, body)) << m.data;
    }
}

TEST(CheckMail, WithoutMailNothingIsSent)
{
    TempDir config, mailbox, work;
    AiosmtpdServer smtp(mailbox.path());
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error();
    ScriptedHttpServer site;
    site.SetResponse("/", ScriptedHttpServer::Response(200, "OK", {}, "nothing here"));
    std::filesystem::create_directories(config.path() + "/Kestrelle");
    TempDir::WriteFile(config.path() + "/Kestrelle/Kestrelle.conf",
                       "[Kestrelle]\nm_EnableEMail=1\nm_EmailServer=127.0.0.1\nm_EmailPort=" +
                           std::to_string(smtp.Port()) + "\nm_EmailAddress=me@home.test\n");
    const std::string data = work.file("kestrelle.dat");
    TempDir::WriteFile(data, site.url("/") + "\r\n-\r\n-\r\nWelcome\r\nBEGIN RESPONSE\r\n"
                                             "END RESPONSE\r\n\r\n");
    // Both runs see a new site ("-"), so each would be the outage's first.
    EXPECT_EQ(RunChecker(work, config.path(), {data}), 2);
    EXPECT_EQ(RunChecker(work, config.path(), {"--save", data}), 2);
    EXPECT_TRUE(smtp.Messages().empty());
}

void WriteSettings(const TempDir& config, uint16_t port)
{
    std::filesystem::create_directories(config.path() + "/Kestrelle");
    TempDir::WriteFile(config.path() + "/Kestrelle/Kestrelle.conf",
                       "[Kestrelle]\nm_EnableEMail=1\nm_EmailServer=127.0.0.1\nm_EmailPort=" +
                           std::to_string(port) + "\nm_EmailAddress=me@home.test\n");
}

std::string DownList(const ScriptedHttpServer& site, int sites)
{
    std::string bytes;
    for (int i = 0; i < sites; ++i)
        bytes += site.url("/" + std::to_string(i)) +
                 "\r\n-\r\n-\r\nWelcome\r\nBEGIN RESPONSE\r\nEND RESPONSE\r\n\r\n";
    return bytes;
}

// `kestrelle-check --save --mail FILE | head -1` from cron: the reader goes
// after one line, and the outages must still be recorded and mailed.
TEST(CheckMail, AClosedOutputLosesNeitherTheSaveNorTheMail)
{
    TempDir config, mailbox, work;
    AiosmtpdServer smtp(mailbox.path());
    ASSERT_TRUE(smtp.IsRunning()) << smtp.Error();
    ScriptedHttpServer site; // every path answers 404: all three sites down
    WriteSettings(config, smtp.Port());
    const std::string data = work.file("kestrelle.dat");
    TempDir::WriteFile(data, DownList(site, 3));

    EXPECT_EQ(RunChecker(work, config.path(), {"--save", "--mail", data}, true), 2)
        << TempDir::ReadFile(work.file("stderr"));
    EXPECT_EQ(smtp.Messages().size(), 3u);
    SiteList saved;
    ASSERT_TRUE(DataFile::LoadSites(saved, data));
    ASSERT_EQ(saved.RowCount(), 3);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(saved.Text(row, SiteEntry::Status), "ERROR") << row;
}

TEST(CheckMail, AnAlertThatDoesNotGoOutLeavesOneLine)
{
    TempDir config, work;
    ScriptedHttpServer site;
    const std::string data = work.file("kestrelle.dat");
    const std::string name = "127.0.0.1:" + std::to_string(site.port());
    ScriptedSmtpServer::Script refusing = ScriptedSmtpServer::Accepting();
    refusing[refusing.size() - 2] = ScriptedSmtpServer::OnData("554 5.7.1 Spam refused\r\n");
    ScriptedSmtpServer refuser(refusing);
    const struct
    {
        const char* name;
        uint16_t port;
        std::string reason;
    } cases[] = {
        {"refused after the data", refuser.Port(),
         "the server answered \"554 5.7.1 Spam refused\""},
        {"nobody listening", ScriptedSmtpServer::UnusedPort(), "cannot connect to the server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteSettings(config, c.port);
        TempDir::WriteFile(data, DownList(site, 1));
        EXPECT_EQ(RunChecker(work, config.path(), {"--mail", data}), 2);
        const std::string err = TempDir::ReadFile(work.file("stderr"));
        EXPECT_NE(err.find("Kestrelle: alert e-mail for " + name + " not sent through 127.0.0.1:" +
                           std::to_string(c.port) + ": " + c.reason + "\n"),
                  std::string::npos)
            << err;
    }
}

} // namespace
