#include "StoreTestSupport.h"

#include "monitor/MailAlert.h"
#include "net/FetchSettings.h"
#include "platform/AppPaths.h"
#include "settings/COptionsDlg.h"
#include "support/TlsFront.h"
#include "support/TlsSmtpServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace {

const std::string kDefaultWav = AppPaths::ProgramDataFile("default.wav");

TEST(COptionsDlg, AFreshUserGetsEveryDefaultAndNothingIsWritten)
{
    TempStore store;
    const COptionsDlg dlg;
    EXPECT_EQ(dlg.m_Minutes, 30);
    EXPECT_EQ(dlg.m_PlaySound, 1);
    EXPECT_EQ(dlg.m_SoundName, "default.wav");
    EXPECT_EQ(dlg.m_WavPathname, kDefaultWav);
    EXPECT_EQ(dlg.m_EnableEmail, 0);
    EXPECT_EQ(dlg.m_EmailServer, "");
    EXPECT_EQ(dlg.m_EmailPort, 25);
    EXPECT_EQ(dlg.m_EmailSecurity, 0);
    EXPECT_EQ(dlg.m_EmailAddress, "");
    EXPECT_EQ(dlg.m_EmailUsername, "");
    EXPECT_EQ(dlg.m_EmailPassword, "");
    EXPECT_EQ(dlg.m_bRecoveryBalloon, 1);
    EXPECT_EQ(dlg.m_bRecoveryEmail, 0);
    EXPECT_EQ(dlg.m_iCertWarnDays, 14);
    EXPECT_EQ(CRegStore::ReadInt(CRegStore::kProductKey, "bMinimized"), -1);
    EXPECT_FALSE(std::filesystem::exists(store.folder()));
}

TEST(COptionsDlg, EachValueFollowsItsRule)
{
    using Field = std::function<std::string(const COptionsDlg&)>;
    const auto number = [](int COptionsDlg::*f) {
        return Field([f](const COptionsDlg& d) { return std::to_string(d.*f); });
    };
    const auto text = [](std::string COptionsDlg::*f) {
        return Field([f](const COptionsDlg& d) { return d.*f; });
    };
    const Field minutes = number(&COptionsDlg::m_Minutes),
                parallel = number(&COptionsDlg::m_iParallelChecks),
                confirm = number(&COptionsDlg::m_iConfirmSeconds),
                sound = number(&COptionsDlg::m_PlaySound),
                email = number(&COptionsDlg::m_EnableEmail),
                port = number(&COptionsDlg::m_EmailPort),
                security = number(&COptionsDlg::m_EmailSecurity),
                server = text(&COptionsDlg::m_EmailServer),
                address = text(&COptionsDlg::m_EmailAddress),
                user = text(&COptionsDlg::m_EmailUsername),
                password = text(&COptionsDlg::m_EmailPassword),
                soundName = text(&COptionsDlg::m_SoundName),
                wav = text(&COptionsDlg::m_WavPathname);
    const struct
    {
        const char* name;
        std::string stored;
        Field field;
        std::string loaded;
    } cases[] = {
        {"m_Minutes", "", minutes, "30"},
        {"m_Minutes", "-", minutes, "30"},
        {"m_Minutes", "0", minutes, "0"},
        {"m_Minutes", "5", minutes, "5"},
        {"m_Minutes", "-3", minutes, "-3"},
        {"m_Minutes", "abc", minutes, "0"},
        // Taken as it is: bounding it is the timer's business.
        {"m_Minutes", "99999999999", minutes, std::to_string(INT_MAX)},
        {"iParallelChecks", "", parallel, "16"},
        {"iParallelChecks", "3", parallel, "3"},
        {"iConfirmSeconds", "", confirm, "0"},
        {"iConfirmSeconds", "20", confirm, "20"},
        {"m_PlaySound", "0", sound, "0"},
        {"m_PlaySound", "", sound, "1"},
        {"m_PlaySound", "2", sound, "2"},
        {"m_PlaySound", "-1", sound, "1"},
        {"m_PlaySound", "x", sound, "0"},
        {"m_EnableEMail", "1", email, "1"},
        {"m_EnableEmail", "1", email, "1"},
        {"m_EnableEmail", "", email, "0"},
        {"m_EnableEmail", "-5", email, "-5"},
        {"m_EmailServer", "s", server, ""},
        {"m_EmailServer", "ab", server, "ab"},
        {"m_EmailServer", "smtp.example.org", server, "smtp.example.org"},
        {"m_EmailPort", "5", port, "25"},
        {"m_EmailPort", "587", port, "587"},
        {"m_EmailPort", "", port, "25"},
        {"m_EmailPort", "ab", port, "0"},
        {"m_EmailSecurity", "1", security, "1"},
        {"m_EmailSecurity", "2", security, "2"},
        {"m_EmailSecurity", "0", security, "0"},
        {"m_EmailSecurity", "", security, "0"},
        // Anything else is refused for sending, never taken as plain SMTP.
        {"m_EmailSecurity", "3", security, "-1"},
        {"m_EmailSecurity", "STARTTLS", security, "-1"},
        {"m_EmailSecurity", "02", security, "-1"},
        {"m_EmailSecurity", "1 ;tls", security, "-1"},
        {"m_EmailAddress", "a", address, ""},
        {"m_EmailAddress", "ann@example.org", address, "ann@example.org"},
        {"m_EmailUsername", "u", user, ""},
        {"m_EmailUsername", "ann", user, "ann"},
        {"m_EmailPassword", "p", password, ""},
        {"m_EmailPassword", "pw", password, "pw"},
        {"WavPathname", "/home/ann/sounds/bell.wav", soundName, "bell.wav"},
        {"WavPathname", "/home/ann/sounds/bell.wav", wav, "/home/ann/sounds/bell.wav"},
        {"WavPathname", "/bell.wav", soundName, "bell.wav"},
        {"WavPathname", "bell.wav", soundName, "default.wav"},
        {"WavPathname", "bell.wav", wav, kDefaultWav},
        {"WavPathname", "/home/ann/sounds/", wav, kDefaultWav},
        {"WavPathname", "C:\\sounds\\bell.wav", wav, kDefaultWav},
        {"WavPathname", "", soundName, "default.wav"},
    };
    for (const auto& c : cases) {
        TempStore store;
        ASSERT_TRUE(Write(c.name, c.stored));
        EXPECT_EQ(c.field(COptionsDlg()), c.loaded) << c.name << " stored as \"" << c.stored << '"';
    }
}

TEST(COptionsDlg, LoadingAgainStartsFromTheDefaults)
{
    TempStore store;
    ASSERT_TRUE(Write("m_EmailServer", "smtp.example.org"));
    ASSERT_TRUE(Write("WavPathname", "/sounds/bell.wav"));
    COptionsDlg dlg;
    ASSERT_EQ(dlg.m_EmailServer, "smtp.example.org");
    ASSERT_TRUE(Write("m_EmailServer", "s"));
    ASSERT_TRUE(Write("WavPathname", "bell.wav"));
    dlg.LoadSettings();
    EXPECT_EQ(dlg.m_EmailServer, "");
    EXPECT_EQ(dlg.m_SoundName, "default.wav");
    // The default sound is a choice in memory: the store keeps what it had.
    EXPECT_EQ(Read("WavPathname"), "bell.wav");
}

TEST(COptionsDlg, LoadsOnWorkerThreadsWhileTheUiThreadWrites)
{
    TempStore store;
    ASSERT_TRUE(Write("m_EmailServer", "old.example.org"));
    ASSERT_TRUE(Write("m_Minutes", "10"));
    ASSERT_TRUE(Write("m_EmailPassword", "first secret"));

    std::atomic<bool> writing{true};
    std::atomic<int> loads{0}, torn{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 3; ++t)
        workers.emplace_back([&] {
            // At least a few loads each, however fast the writer is.
            for (int n = 0; writing || n < 3; ++n) {
                const COptionsDlg dlg;
                const bool whole = (dlg.m_EmailServer == "old.example.org" ||
                                    dlg.m_EmailServer == "new.example.org") &&
                                   (dlg.m_Minutes == 10 || dlg.m_Minutes == 20) &&
                                   (dlg.m_EmailPassword == "first secret" ||
                                    dlg.m_EmailPassword == "second secret");
                torn += !whole;
                ++loads;
            }
        });
    // A second writer thread of its own values: none may be lost.
    std::thread other([] {
        for (int i = 0; i < 10; ++i)
            Write("other" + std::to_string(i), std::to_string(i));
    });
    for (int i = 0; i < 12; ++i) {
        const bool even = i % 2 == 0;
        Write("m_EmailServer", even ? "new.example.org" : "old.example.org");
        Write("m_Minutes", even ? "20" : "10");
        Write("m_EmailPassword", even ? "second secret" : "first secret");
    }
    other.join();
    writing = false;
    for (std::thread& w : workers)
        w.join();
    EXPECT_EQ(torn, 0) << "of " << loads << " loads";
    EXPECT_EQ(COptionsDlg().m_EmailServer, "old.example.org");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(Read("other" + std::to_string(i)), std::to_string(i));
}

TEST(COptionsDlg, TheNumberFieldsTakeIntegersInTheirRangeOnly)
{
    const std::string none = "Please enter an integer.";
    const std::string minutes = "Please enter an integer between 1 and 2147483647.";
    const std::string port = "Please enter an integer between 1 and 65535.";
    const std::string parallel = "Please enter an integer between 1 and 64.";
    const std::string confirm = "Please enter an integer between 0 and 3600.";
    using Check = std::optional<std::string> (*)(const std::string&, int&);
    const Check m = &COptionsDlg::CheckMinutes, p = &COptionsDlg::CheckPort,
                n = &COptionsDlg::CheckParallel, c2 = &COptionsDlg::CheckConfirm;
    const struct
    {
        Check check;
        const char* text;
        std::string refusal; // empty: taken
    } cases[] = {
        {m, " 7 ", ""},        {m, "2147483647", ""}, {m, "", none},
        {m, "5x", none},       {m, "0", minutes},     {m, "2147483648", minutes},
        {p, "65535", ""},      {p, "0", port},        {p, "65561", port},
        {n, "1", ""},          {n, "64", ""},         {n, "0", parallel},
        {n, "65", parallel},   {c2, "0", ""},         {c2, "3600", ""},
        {c2, "3601", confirm},
    };
    for (const auto& c : cases) {
        int value = -1;
        const auto refusal = c.check(c.text, value);
        EXPECT_EQ(refusal.value_or(""), c.refusal) << c.text;
        EXPECT_EQ(value, c.refusal.empty() ? std::atoi(c.text) : -1) << c.text;
    }
}

TEST(COptionsDlg, AFailedExchangeStopsAtTheFieldThatFailed)
{
    TempStore store;
    COptionsDlg dlg;
    COptionsDlg::Controls c = dlg.Values();
    c.minutes = "45";
    c.server = "smtp.example.org";
    c.port = "70000";
    c.security = 1;
    const auto notice = dlg.TakeValues(c);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->focus, COptionsDlg::kPortEdit);
    EXPECT_EQ(notice->icon, COptionsDlg::Notice::Icon::Exclamation);
    EXPECT_EQ(dlg.m_Minutes, 45);
    EXPECT_EQ(dlg.m_EmailServer, "smtp.example.org");
    EXPECT_EQ(dlg.m_EmailPort, 25);
    EXPECT_EQ(dlg.m_EmailSecurity, 0);
    EXPECT_FALSE(std::filesystem::exists(store.file()));
}

TEST(COptionsDlg, OkChecksTheMailFieldsThenWritesInItsOrder)
{
    TempStore store;
    COptionsDlg dlg;
    COptionsDlg::Controls c = dlg.Values();
    c.minutes = "60";
    c.enableEmail = true;
    c.address = "ann@example.org";
    EXPECT_EQ(dlg.OnOk(c)->focus, COptionsDlg::kServerEdit);
    c.server = "smtp.example.org";
    c.address = "";
    EXPECT_EQ(dlg.OnOk(c)->text, "Please enter a valid Email Address to send from.");
    EXPECT_FALSE(std::filesystem::exists(store.file()));

    c.address = "ann@example.org";
    c.port = "587";
    c.security = 1;
    c.username = "ann";
    c.password = "s3cret;#";
    ASSERT_FALSE(dlg.OnOk(c));
    // New names are added in the order of the writes.
    EXPECT_EQ(TempDir::ReadFile(store.file()), "[Kestrelle]\n"
                                               "m_Minutes=60\n"
                                               "iParallelChecks=16\n"
                                               "iConfirmSeconds=0\n"
                                               "m_EmailServer=smtp.example.org\n"
                                               "m_EmailPort=587\n"
                                               "m_EmailSecurity=1\n"
                                               "m_EmailAddress=ann@example.org\n"
                                               "m_EmailUsername=ann\n"
                                               "m_EmailPassword=s3cret;#\n"
                                               "bRecoveryBalloon=1\n"
                                               "bRecoveryEmail=0\n"
                                               "iCertWarnDays=14\n");
}

TEST(COptionsDlg, TheCheckBoxesAndBrowseWriteAtOnce)
{
    TempStore store;
    COptionsDlg dlg;
    COptionsDlg::Controls c = dlg.Values();
    c.playSound = false;
    c.enableEmail = true;
    c.minutes = "0";
    EXPECT_TRUE(dlg.OnPlaySoundClicked(c));
    EXPECT_FALSE(std::filesystem::exists(store.file()));
    c.minutes = "10";
    EXPECT_FALSE(dlg.OnPlaySoundClicked(c));
    EXPECT_FALSE(dlg.OnEnableEmailClicked(c));
    dlg.OnSoundChosen("/home/ann/sounds/bell.wav");
    EXPECT_EQ(dlg.m_SoundName, "bell.wav");
    // The interval taken by the clicks waits for OK.
    EXPECT_EQ(TempDir::ReadFile(store.file()), "[Kestrelle]\nm_PlaySound=0\nm_EnableEMail=1\n"
                                               "WavPathname=/home/ann/sounds/bell.wav\n");
}

TEST(COptionsDlg, TestEmailSaysHowItWentAndWritesNothing)
{
    TempStore store;
    TempDir certFolder, dir;
    TlsFront::Certificates certs;
    ASSERT_TRUE(TlsFront::MakeCertificates(certFolder.path(), certs));
    FetchSettings::SetCaFileForTests(certs.caFile);
    TlsSmtpServer server(dir.path(), TlsSmtpServer::Mode::StartTls, certs.signedCert,
                         certs.signedKey, "ann", "s3cret");
    ASSERT_TRUE(server.IsRunning());
    // A port nothing listens on: the one a closed server had.
    uint16_t closedPort = 0;
    {
        TempDir other;
        TlsSmtpServer gone(other.path(), TlsSmtpServer::Mode::StartTls, certs.signedCert,
                           certs.signedKey);
        closedPort = gone.Port();
    }

    using Icon = COptionsDlg::Notice::Icon;
    const struct
    {
        const char* server;
        uint16_t port;
        const char* password;
        std::string text; // its start; empty: no notice at all
        Icon icon;
        int focus;
    } cases[] = {
        {"", server.Port(), "s3cret", "Please enter an SMTP Server Address.", Icon::Stop,
         COptionsDlg::kServerEdit},
        {"127.0.0.1", closedPort, "s3cret", "", Icon::Stop, 0},
        {"127.0.0.1", server.Port(), "s3cret",
         "A test email has been successfully sent to ann@example.org", Icon::Information, 0},
        {"127.0.0.1", server.Port(), "wrong",
         "There was a problem sending an email to ann@example.org\n\nPlease check", Icon::Stop, 0},
    };
    for (const auto& c : cases) {
        COptionsDlg dlg;
        COptionsDlg::Controls controls = dlg.Values();
        controls.server = c.server;
        controls.address = "ann@example.org";
        controls.port = std::to_string(c.port);
        controls.security = 1;
        controls.username = "ann";
        controls.password = c.password;
        auto notice = dlg.TestEmailChecks(controls);
        if (!notice)
            notice = COptionsDlg::TestEmailNotice(MailDelivery::Send(MailAlert::TestMessage(dlg)),
                                                  "ann@example.org");
        ASSERT_EQ(notice.has_value(), !c.text.empty()) << c.text;
        if (!notice)
            continue;
        EXPECT_EQ(notice->text.substr(0, c.text.size()), c.text);
        EXPECT_EQ(notice->icon, c.icon) << c.text;
        EXPECT_EQ(notice->focus, c.focus) << c.text;
    }
    ASSERT_EQ(server.Messages().size(), 1u);
    EXPECT_NE(server.Messages()[0].data.find("Subject: Test message from Kestrelle\r\n"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(store.file()));
    FetchSettings::SetCaFileForTests("");
}

} // namespace
