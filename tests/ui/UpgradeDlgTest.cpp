#include "net/FetchSettings.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "ui/CUpgradeDlg.h"
#include "ui/CUpgradeProgressDlg.h"
#include "ui/EventLoopWaiter.h"
#include "ui/ProgramEnd.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;
using Server = ScriptedHttpServer;

namespace {

// A message box as the tests compare it: title | text | icon | buttons.
using Icon = UserMessage::Icon;
using Buttons = UserMessage::Buttons;

std::string Box(const std::string& title, const std::string& text, Icon icon, Buttons buttons)
{
    return title + " | " + text + " | " + std::to_string(int(icon)) + " | " +
           std::to_string(int(buttons));
}

const std::string kMostRecent =
    Box("Kestrelle", "You have the most recent version v1.00.\nNo upgrade is available.",
        Icon::None, Buttons::Ok);
const std::string kFailed =
    Box("Kestrelle",
        "There was a problem while downloading the update for your software. Your current version "
        "is still installed.\n\nYou can manually upgrade your software by "
        "visiting " KESTRELLE_DOWNLOAD_URL
        " and clicking Download Evaluation to obtain the latest version.",
        Icon::Information, Buttons::Ok);

std::string Question(const std::string& description)
{
    return Box("A new upgrade is available.",
               "A new upgrade of Kestrelle is available for download.\n\nDescription:\n\n" +
                   description + "\n\nWould you like to download the upgrade now?",
               Icon::None, Buttons::YesNo);
}

std::string Page(const std::string& version, const std::string& link)
{
    return "<html>\r\n<!-- UPGRADE Version -->\r\n" + version +
           "\r\n<!-- UPGRADE Description -->\r\nFaster checks.\r\n"
           "<!-- END UPGRADE Description -->\r\n<!-- UPGRADE Download Link -->\r\n" +
           link + "\r\n</html>\r\n";
}

// A program that writes its argument count, its argument and its working
// directory into `record`.
void WriteRecordingScript(const std::string& path, const std::string& record)
{
    TempDir::WriteFile(path, "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$#\" \"$1\" \"$(pwd)\" >> " +
                                 record + "\n");
    chmod(path.c_str(), 0755);
}

class UpgradeDlgFlow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(TlsFront::MakeCertificates(m_dir.path(), m_certs));
        m_front =
            std::make_unique<TlsFront>(m_certs.signedCert, m_certs.signedKey, m_server.port());
        ASSERT_TRUE(m_front->running());
        FetchSettings::SetCaFileForTests(m_certs.caFile);
        fs::create_directory(m_runtime);
        chmod(m_runtime.c_str(), 0700);
        setenv("XDG_RUNTIME_DIR", m_runtime.c_str(), 1);
        m_handler = UserMessage::SetHandler([this](const UserMessage::Box& box) {
            m_shown.push_back(Box(box.title, box.text, box.icon, box.buttons));
            return box.buttons == Buttons::YesNo ? m_answer : UserMessage::Answer::Ok;
        });
        ProgramEnd::SetExitForTests([this](int code) { m_exits.push_back(code); });
        m_dlg.SetUpgradeInfo("Kestrelle", 1.0f, PageUrl());
    }
    void TearDown() override
    {
        UserMessage::SetHandler(m_handler);
        ProgramEnd::SetExitForTests({});
        CUpgradeDlg::SetProgramDirForTests("");
        FetchSettings::ResetForTests();
        FetchWaiter::SetFactory({});
        unsetenv("XDG_RUNTIME_DIR");
    }

    std::string PageUrl() const { return m_front->url("/kestrelle_upgrade_check.html"); }
    void ServePage(const std::string& body)
    {
        m_server.SetResponse("/kestrelle_upgrade_check.html",
                             Server::Response(200, "OK", {"Content-Type: text/html"}, body));
    }

    struct Outcome
    {
        int result = -1;
        bool leftOpen = false;
        bool okEnabled = true;
    };
    // Opens the dialog, presses OK once and closes the dialog if the check
    // left it open.
    Outcome Check(CUpgradeDlg& dlg)
    {
        Outcome outcome;
        QTimer::singleShot(0, [&] {
            auto* ok = dlg.Window()->findChild<QPushButton*>("IDOK");
            ok->click();
            outcome.okEnabled = ok->isEnabled();
            outcome.leftOpen = dlg.Window()->isVisible();
            if (outcome.leftOpen)
                dlg.Window()->reject();
        });
        outcome.result = dlg.DoModal();
        return outcome;
    }

    TempDir m_dir;
    std::string m_runtime = m_dir.file("run");
    TlsFront::Certificates m_certs;
    Server m_server;
    std::unique_ptr<TlsFront> m_front;
    CUpgradeDlg m_dlg;
    std::vector<std::string> m_shown;
    std::vector<int> m_exits;
    UserMessage::Answer m_answer = UserMessage::Answer::No;
    UserMessage::Handler m_handler;
};

} // namespace

TEST_F(UpgradeDlgFlow, SameVersionOffersNothingNewerOneAnsweredNoClosesTheDialog)
{
    const struct
    {
        std::string version;
        std::string shown;
        bool leftOpen;
    } cases[] = {
        {"1.00", kMostRecent, true},
        {"1.01", Question("Faster checks.\n"), false},
    };
    for (const auto& c : cases) {
        ServePage(Page(c.version, m_front->url("/setup")));
        m_shown.clear();
        const Outcome outcome = Check(m_dlg);
        EXPECT_EQ(m_shown, std::vector<std::string>{c.shown}) << c.version;
        EXPECT_EQ(outcome.leftOpen, c.leftOpen) << c.version;
        EXPECT_FALSE(outcome.okEnabled) << c.version;
        EXPECT_EQ(outcome.result, QDialog::Rejected) << c.version;
    }
    EXPECT_EQ(m_server.RequestCount(), 2u) << "nothing downloaded";
}

TEST_F(UpgradeDlgFlow, APageThatCouldNotBeReadSaysSoInsteadOfMostRecent)
{
    m_server.SetResponse("/gone", Server::Response(503, "Service Unavailable", {}, ""));
    const struct
    {
        std::string page, reason;
    } cases[] = {
        {"https://127.0.0.1:9/kestrelle_upgrade_check.html", "connection refused"},
        {m_front->url("/gone"), "HTTP 503 Service Unavailable"},
    };
    for (const auto& c : cases) {
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Kestrelle", 1.0f, c.page);
        m_shown.clear();
        const Outcome outcome = Check(dlg);
        EXPECT_EQ(m_shown,
                  std::vector<std::string>{Box(
                      "Kestrelle",
                      "Kestrelle could not check for an upgrade: " + c.reason +
                          ".\n\nYou can look for the latest version at " KESTRELLE_DOWNLOAD_URL ".",
                      Icon::Exclamation, Buttons::Ok)})
            << c.page;
        EXPECT_TRUE(outcome.leftOpen) << c.page;
    }
}

TEST_F(UpgradeDlgFlow, YesRunsUninstallerBesideTheProgramThenInstallerAndExits)
{
    const std::string record = m_dir.file("record.txt");
    const std::string program = m_dir.file("program");
    fs::create_directory(program);
    fs::copy_file("/proc/self/exe", program + "/kestrelle");
    WriteRecordingScript(program + "/unins000.exe", record);
    CUpgradeDlg::SetProgramDirForTests(program);
    // One in the current directory must never run.
    const std::string home = m_dir.file("home");
    fs::create_directory(home);
    WriteRecordingScript(home + "/unins000.exe", m_dir.file("stray.txt"));
    const fs::path startDir = fs::current_path();
    fs::current_path(home);

    m_server.SetResponse("/setup", Server::Response(200, "OK", {},
                                                    "#!/bin/sh\nprintf '%s|%s|%s|%s\\n' \"$#\" "
                                                    "\"$1\" \"$(pwd)\" \"$(stat -c %a .)\" >> " +
                                                        record + "\n"));
    ServePage(Page("2", m_front->url("/setup")));
    m_answer = UserMessage::Answer::Yes;
    Check(m_dlg);
    fs::current_path(startDir);

    EXPECT_EQ(m_exits, std::vector<int>{0});
    const std::string text = TempDir::ReadFile(record);
    const std::string folder = m_runtime + "/kestrelle-upgrade-";
    const auto at = text.find("\n1||" + folder);
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.substr(0, at), "1| /SILENT|" + program);
    EXPECT_EQ(text.substr(text.size() - 5), "|700\n") << text;
    EXPECT_FALSE(fs::exists(m_dir.file("stray.txt")));
    EXPECT_TRUE(fs::is_empty(m_runtime));
}

TEST_F(UpgradeDlgFlow, RefusedOrFailedDownloadsSayWhereToGetTheUpgrade)
{
    Server plain;
    plain.SetResponse("/kestrelle_upgrade_check.html",
                      Server::Response(200, "OK", {}, Page("2", m_front->url("/setup"))));
    m_server.SetResponse("/setup", Server::Response(404, "Not Found", {}, "<HTML>none</HTML>\n"));
    m_server.SetResponse("/moved",
                         Server::Response(302, "Found", {"Location: " + plain.url("/setup")}, ""));
    const struct
    {
        const char* what;
        std::string page;
        std::string link; // on our https page; empty: the plain page's
        const char* says; // our one line on standard error, if any
    } cases[] = {
        {"http download link", PageUrl(), plain.url("/setup"), "is not an https address"},
        {"http upgrade page", plain.url("/kestrelle_upgrade_check.html"), "",
         "is not an https address"},
        {"https link sent on to http", PageUrl(), m_front->url("/moved"),
         "from https to plain http"},
        {"installer not found", PageUrl(), m_front->url("/setup"), nullptr},
    };
    m_answer = UserMessage::Answer::Yes;
    for (const auto& c : cases) {
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Kestrelle", 1.0f, c.page);
        ServePage(Page("2", c.link));
        m_shown.clear();
        ::testing::internal::CaptureStderr();
        const Outcome outcome = Check(dlg);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(m_shown, (std::vector<std::string>{Question("Faster checks.\n"), kFailed}))
            << c.what;
        EXPECT_TRUE(outcome.leftOpen) << c.what;
        // Qt's offscreen platform writes lines of its own: count ours.
        std::size_t ours = 0;
        for (auto at = err.find("Kestrelle: "); at != std::string::npos;
             at = err.find("Kestrelle: ", at + 1))
            ++ours;
        EXPECT_EQ(ours, c.says ? 1u : 0u) << c.what << ": " << err;
        if (c.says) {
            EXPECT_NE(err.find(c.says), std::string::npos) << c.what << ": " << err;
        }
        EXPECT_TRUE(fs::is_empty(m_runtime)) << c.what;
    }
    EXPECT_EQ(plain.RequestCount(), 1u) << "the http link must not even be fetched";
    EXPECT_TRUE(m_exits.empty());
}

TEST_F(UpgradeDlgFlow, SecondCheckOfEmptyPageKeepsTheFirstVersionAndLink)
{
    ServePage(Page("1.5", m_front->url("/setup")));
    Check(m_dlg);
    ServePage("");
    m_shown.clear();
    Check(m_dlg);
    EXPECT_EQ(m_shown, std::vector<std::string>{Question("")});
    EXPECT_EQ(m_dlg.m_strDownloadLink, m_front->url("/setup"));
}

TEST_F(UpgradeDlgFlow, AskingAgainWhileOpenKeepsTheOpenDialog)
{
    int again = -1;
    QTimer::singleShot(0, [&] {
        QDialog* first = m_dlg.Window();
        again = m_dlg.DoModal();
        EXPECT_EQ(m_dlg.Window(), first);
        first->reject();
    });
    m_dlg.DoModal();
    EXPECT_EQ(again, QDialog::Rejected);
}

// A download that would take long: it is stopped, never read to its end.
void ServeSlowInstaller(Server& server)
{
    Server::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\nContent-Length: 4000000\r\n\r\n", {}}};
    slow.endless = true;
    slow.endlessChunk = "#" + std::string(1023, 'x');
    slow.endlessPause = Server::Millis(5);
    server.SetScript("/setup", slow);
}

// Runs `act` once the progress window counts received bytes.
void OnceDownloading(QTimer& timer, CUpgradeDlg& dlg, std::function<void()> act)
{
    QObject::connect(&timer, &QTimer::timeout, [&timer, &dlg, act] {
        auto* progress = dlg.Window() ? dlg.Window()->findChild<CUpgradeProgressDlg*>() : nullptr;
        if (progress && progress->Text().startsWith("Read ")) {
            timer.stop();
            act();
        }
    });
    timer.start(10);
}

TEST_F(UpgradeDlgFlow, ClosingDuringTheDownloadCancelsItAndLeavesNoFile)
{
    // The dialog stays responsive only while the wait runs a nested loop.
    EventLoopWaiter::Install();
    ServeSlowInstaller(m_server);
    ServePage(Page("2", m_front->url("/setup")));
    m_answer = UserMessage::Answer::Yes;
    QTimer closer;
    OnceDownloading(closer, m_dlg, [this] { m_dlg.Window()->reject(); });
    const Outcome outcome = Check(m_dlg);
    EXPECT_FALSE(outcome.leftOpen);
    EXPECT_EQ(m_shown, std::vector<std::string>{Question("Faster checks.\n")}) << "no failure";
    EXPECT_TRUE(fs::is_empty(m_runtime));
    EXPECT_TRUE(m_exits.empty());
    ASSERT_TRUE(m_server.WaitForConnections(2, Server::Millis(60000)));
    EXPECT_LT(m_server.Connections().back().bytesSent, 4000000u);
}

TEST_F(UpgradeDlgFlow, ExitingDuringTheDownloadLeavesNoFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child runs this test afresh: it downloads into the parent's folder.
    const char* parents = std::getenv("KESTRELLE_TEST_UPGRADE_RUNTIME");
    const std::string runtime = parents ? parents : m_runtime;
    setenv("KESTRELLE_TEST_UPGRADE_RUNTIME", runtime.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // std::exit leaves the application's objects alive at the end, as the
    // program's own exit does: not leaks for the sanitizer to report.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanBefore = asan ? asan : "";
    setenv("ASAN_OPTIONS", (asanBefore + ":detect_leaks=0").c_str(), 1);
    EXPECT_EXIT(
        {
            EventLoopWaiter::Install();
            ServeSlowInstaller(m_server);
            ServePage(Page("2", m_front->url("/setup")));
            m_answer = UserMessage::Answer::Yes;
            QTimer exiter;
            // The child's own folder would outlive it: std::exit runs no
            // destructors of the test.
            OnceDownloading(exiter, m_dlg, [this] {
                fs::remove_all(m_dir.path());
                std::exit(0);
            });
            Check(m_dlg);
            std::exit(1);
        },
        ::testing::ExitedWithCode(0), "");
    unsetenv("KESTRELLE_TEST_UPGRADE_RUNTIME");
    setenv("ASAN_OPTIONS", asanBefore.c_str(), 1);
    EXPECT_TRUE(fs::is_empty(runtime));
}
