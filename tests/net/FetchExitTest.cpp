#include "FetchTestSupport.h"
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"

#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using Server = ScriptedHttpServer;
using namespace std::chrono_literals;

namespace {

constexpr const char* kChildUrl = "KESTRELLE_FETCH_EXIT_URL";
constexpr const char* kChildCa = "KESTRELLE_FETCH_EXIT_CA";

// In the child: a pass thread's fetch that never ends, and the program
// ending from its main thread meanwhile, as the tray's Exit does.
[[noreturn]] void EndWhileFetching(const std::string& url, const char* caFile)
{
    if (caFile)
        FetchSettings::SetCaFileForTests(caFile);
    std::thread([url] {
        CPageFetcher fetcher;
        fetcher.Fetch(url, "", nullptr);
    }).detach();
    std::this_thread::sleep_for(300ms); // well into the body
    std::exit(0);
}

struct Outcome
{
    int status = -1;
    std::string err;
};

// This test program again, running only this test as the child.
Outcome RunChild(const std::string& url, const std::string& caFile, const std::string& errPath)
{
    const std::string filter =
        "--gtest_filter=" +
        std::string(testing::UnitTest::GetInstance()->current_test_suite()->name()) + "." +
        testing::UnitTest::GetInstance()->current_test_info()->name();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    env.push_back(std::string(kChildUrl) + "=" + url);
    if (!caFile.empty())
        env.push_back(std::string(kChildCa) + "=" + caFile);
    std::vector<char*> envp;
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::vector<char*> argv{self.data(), const_cast<char*>(filter.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    Outcome outcome;
    if (posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.err = TempDir::ReadFile(errPath);
    return outcome;
}

} // namespace

using FetchExit = FetcherTest;

TEST_F(FetchExit, TheProcessEndsCleanlyWhileATransferRuns)
{
    if (const char* url = std::getenv(kChildUrl))
        EndWhileFetching(url, std::getenv(kChildCa));

    Server server;
    Server::Script endless;
    endless.steps = {{"HTTP/1.0 200 OK\r\n\r\nstart\n", {}}};
    endless.endless = true;
    endless.endlessChunk = "more\n";
    endless.endlessPause = 10ms;
    server.SetScript("/endless", endless);
    TempDir dir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(dir.path(), certs));
    TlsFront tls(certs.signedCert, certs.signedKey, server.port());
    ASSERT_TRUE(tls.running());

    for (const auto& [url, caFile] : {std::pair{server.url("/endless"), std::string()},
                                      std::pair{tls.url("/endless"), certs.caFile}}) {
        const Outcome outcome = RunChild(url, caFile, dir.file("stderr.txt"));
        EXPECT_EQ(outcome.status, 0) << url << "\n" << outcome.err;
        EXPECT_EQ(outcome.err.find("Sanitizer"), std::string::npos) << outcome.err;
    }
    EXPECT_EQ(server.RequestCount(), 2u); // both children were fetching when they ended
}
