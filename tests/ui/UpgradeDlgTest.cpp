#include "net/FetchSettings.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "support/TlsFront.h"
#include "ui/CUpgradeDlg.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using Server = ScriptedHttpServer;

namespace {

struct Shown
{
    std::string title;
    std::string text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
};

const std::string kFailure =
    "There was a problem while downloading the update for your software. Your current version "
    "is still installed.\n\nYou can manually upgrade your software by "
    "visiting " KESTRELLE_DOWNLOAD_URL
    " and clicking Download Evaluation to obtain the latest version.";

std::string Page(const std::string& version, const std::string& link)
{
    return "<html>\r\n<!-- UPGRADE Version -->\r\n" + version +
           "\r\n<!-- UPGRADE Description -->\r\nFaster checks.\r\n"
           "<!-- END UPGRADE Description -->\r\n<!-- UPGRADE Download Link -->\r\n" +
           link + "\r\n</html>\r\n";
}

// Writes what the program was started with, and where, into `record`.
std::string RecordingScript(const std::string& record)
{
    return "#!/bin/sh\nprintf '%s|%s|%s\\n' \"$#\" \"$1\" \"$(pwd)\" >> " + record + "\n";
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
        CUpgradeDlg::SetMessageFunction([this](QWidget*, const QString& title, const QString& text,
                                               QMessageBox::Icon icon,
                                               QMessageBox::StandardButtons buttons) {
            m_shown.push_back({title.toStdString(), text.toStdString(), icon, buttons});
            return buttons.testFlag(QMessageBox::Yes) ? m_answer : QMessageBox::Ok;
        });
        CUpgradeDlg::SetExitFunction([this](int code) { m_exits.push_back(code); });
        m_dlg.SetUpgradeInfo("Kestrelle", 1.0f, m_front->url("/kestrelle_upgrade_check.html"));
    }
    void TearDown() override
    {
        CUpgradeDlg::SetMessageFunction({});
        CUpgradeDlg::SetExitFunction({});
        CUpgradeDlg::SetProgramDirForTests("");
        FetchSettings::ResetForTests();
        unsetenv("XDG_RUNTIME_DIR");
    }

    void ServePage(const std::string& body)
    {
        m_server.SetResponse("/kestrelle_upgrade_check.html",
                             Server::Response(200, "OK", {"Content-Type: text/html"}, body));
    }

    // Opens the dialog, presses OK once and closes it if the check left it
    // open. Tells whether it was left open and OK enabled.
    struct Outcome
    {
        int result = -1;
        bool leftOpen = false;
        bool okEnabled = true;
    };
    Outcome Check()
    {
        Outcome outcome;
        QTimer::singleShot(0, [&] {
            auto* ok = m_dlg.Window()->findChild<QPushButton*>("IDOK");
            ok->click();
            outcome.okEnabled = ok->isEnabled();
            outcome.leftOpen = m_dlg.Window()->isVisible();
            if (outcome.leftOpen)
                m_dlg.Window()->reject();
        });
        outcome.result = m_dlg.DoModal();
        return outcome;
    }

    bool RuntimeEmpty() const { return fs::is_empty(m_runtime); }

    TempDir m_dir;
    std::string m_runtime = m_dir.file("run");
    TlsFront::Certificates m_certs;
    Server m_server;
    std::unique_ptr<TlsFront> m_front;
    CUpgradeDlg m_dlg;
    std::vector<Shown> m_shown;
    std::vector<int> m_exits;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
};

} // namespace

TEST_F(UpgradeDlgFlow, SameVersionSaysMostRecentAndOffersNothing)
{
    ServePage(Page("1.00", m_front->url("/setup")));
    const Outcome outcome = Check();
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].title, "Kestrelle");
    EXPECT_EQ(m_shown[0].text, "You have the most recent version v1.00.\nNo upgrade is available.");
    EXPECT_EQ(m_shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(m_shown[0].buttons, QMessageBox::Ok);
    EXPECT_TRUE(outcome.leftOpen);
    EXPECT_FALSE(outcome.okEnabled);
}

TEST_F(UpgradeDlgFlow, NewerVersionAnsweredNoClosesTheDialog)
{
    ServePage(Page("1.01", m_front->url("/setup")));
    const Outcome outcome = Check();
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].title, "A new upgrade is available.");
    EXPECT_EQ(m_shown[0].text,
              "A new upgrade of Kestrelle is available for download.\n\nDescription:\n\n"
              "Faster checks.\n\n\nWould you like to download the upgrade now?");
    EXPECT_EQ(m_shown[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(m_shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_FALSE(outcome.leftOpen);
    EXPECT_FALSE(outcome.okEnabled);
    EXPECT_EQ(outcome.result, QDialog::Rejected);
    EXPECT_EQ(m_server.RequestCount(), 1u);
}

TEST_F(UpgradeDlgFlow, YesRunsUninstallerBesideTheProgramThenInstallerAndExits)
{
    const std::string program = m_dir.file("program");
    fs::create_directory(program);
    fs::copy_file("/proc/self/exe", program + "/kestrelle");
    const std::string record = m_dir.file("record.txt");
    TempDir::WriteFile(program + "/unins000.exe", RecordingScript(record));
    chmod((program + "/unins000.exe").c_str(), 0755);
    // One in the current directory must never run.
    const fs::path startDir = fs::current_path();
    const std::string home = m_dir.file("home");
    fs::create_directory(home);
    fs::current_path(home);
    TempDir::WriteFile(home + "/unins000.exe", "#!/bin/sh\necho stray >> " + record + "\n");
    chmod((home + "/unins000.exe").c_str(), 0755);
    CUpgradeDlg::SetProgramDirForTests(program);

    const std::string installer =
        RecordingScript(record) + "stat -c %a . >> " + record + "\nls >> " + record + "\n";
    m_server.SetResponse("/setup", Server::Response(200, "OK", {}, installer));
    ServePage(Page("2", m_front->url("/setup")));
    m_answer = QMessageBox::Yes;
    const Outcome outcome = Check();
    fs::current_path(startDir);

    EXPECT_EQ(m_exits, std::vector<int>{0});
    EXPECT_EQ(m_shown.size(), 1u);
    const std::string text = TempDir::ReadFile(record);
    const auto folderAt = text.find("1||" + m_runtime + "/kestrelle-upgrade-");
    ASSERT_NE(folderAt, std::string::npos) << text;
    const std::string folder = text.substr(folderAt + 3, text.find('\n', folderAt) - folderAt - 3);
    EXPECT_EQ(text, "1| /SILENT|" + program + "\n1||" + folder + "\n700\nNewUpdate.exe\n");
    EXPECT_TRUE(RuntimeEmpty());
    EXPECT_FALSE(outcome.okEnabled);
}

TEST_F(UpgradeDlgFlow, RefusedOrFailedDownloadsSayWhereToGetTheUpgrade)
{
    Server plain;
    plain.SetResponse("/kestrelle_upgrade_check.html",
                      Server::Response(200, "OK", {}, Page("2", m_front->url("/setup"))));
    m_server.SetResponse("/setup",
                         Server::Response(404, "Not Found", {}, "<HTML>no such file</HTML>\n"));
    const struct
    {
        const char* what;
        std::string page;
        std::string link;
        bool refused;
    } cases[] = {
        {"http download link", m_front->url("/kestrelle_upgrade_check.html"), plain.url("/setup"),
         true},
        {"http upgrade page", plain.url("/kestrelle_upgrade_check.html"), "", true},
        {"installer not found", m_front->url("/kestrelle_upgrade_check.html"),
         m_front->url("/setup"), false},
    };
    m_answer = QMessageBox::Yes;
    for (const auto& c : cases) {
        CUpgradeDlg dlg;
        dlg.SetUpgradeInfo("Kestrelle", 1.0f, c.page);
        if (!c.link.empty())
            ServePage(Page("2", c.link));
        m_shown.clear();
        ::testing::internal::CaptureStderr();
        QTimer::singleShot(0, [&] {
            dlg.Window()->findChild<QPushButton*>("IDOK")->click();
            dlg.Window()->reject();
        });
        dlg.DoModal();
        const std::string err = ::testing::internal::GetCapturedStderr();
        ASSERT_EQ(m_shown.size(), 2u) << c.what;
        EXPECT_EQ(m_shown[1].title, "Kestrelle") << c.what;
        EXPECT_EQ(m_shown[1].text, kFailure) << c.what;
        EXPECT_EQ(m_shown[1].icon, QMessageBox::Information) << c.what;
        // Qt's offscreen platform writes lines of its own: count ours.
        std::size_t ours = 0;
        for (auto at = err.find("Kestrelle: "); at != std::string::npos;
             at = err.find("Kestrelle: ", at + 1))
            ++ours;
        EXPECT_EQ(ours, c.refused ? 1u : 0u) << c.what << ": " << err;
        EXPECT_EQ(err.find("is not an https address") != std::string::npos, c.refused) << c.what;
        EXPECT_TRUE(RuntimeEmpty()) << c.what;
    }
    EXPECT_EQ(plain.Connections().size(), 1u) << "the http link must not even be fetched";
    EXPECT_TRUE(m_exits.empty());
}

TEST_F(UpgradeDlgFlow, SecondCheckOfEmptyPageKeepsTheFirstVersionAndLink)
{
    ServePage(Page("1.5", m_front->url("/setup")));
    Check();
    ServePage("");
    m_shown.clear();
    Check();
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].title, "A new upgrade is available.");
    EXPECT_EQ(m_shown[0].text, "A new upgrade of Kestrelle is available for download.\n\n"
                               "Description:\n\n\n\nWould you like to download the upgrade now?");
    EXPECT_EQ(m_dlg.m_fPageVersion, 1.5f);
    EXPECT_EQ(m_dlg.m_strDownloadLink, m_front->url("/setup"));
}
