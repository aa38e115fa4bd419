#include "MessageRecorder.h"
#include "RecordingTrayHost.h"
#include "UiTestSupport.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/SiteList.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"
#include "settings/StoreTestSupport.h"
#include "ui/AlertSound.h"
#include "ui/CAddSiteDlg.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CSystemTray.h"
#include "ui/CheckScheduler.h"
#include "ui/FlashAlert.h"
#include "ui/FlashAlertThread.h"
#include "ui/ProgramEnd.h"
#include "ui/SiteListModel.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace {

// A main window over a list of the test's own, in a data folder and a
// settings store of its own, without the start-up pass.
class Commands : public ::testing::Test
{
protected:
    Commands()
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_hadDataHome = old != nullptr;
        m_oldDataHome = old ? old : "";
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
        Clock::SetFixedForTests(kNow);
        MakeWindow();
    }
    ~Commands() override
    {
        window.reset();
        Clock::SetFixedForTests(0);
        if (m_hadDataHome)
            setenv("XDG_DATA_HOME", m_oldDataHome.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

    // A window over the settings stored now, with its tray icon.
    void MakeWindow()
    {
        window.reset();
        window = std::make_unique<CKestrelleDlg>(std::make_unique<RecordingTrayHost>(record));
        window->ListCtrl().SetSiteModel(&window->Model());
        window->Tray().Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    }
    QAction* Entry(int position) { return window->Tray().Menu()->actions().at(position); }
    std::string Label() const
    {
        return window->findChild<QLabel*>("labelNextCheck")->text().toStdString();
    }

    void Fill(const std::vector<std::string>& urls)
    {
        for (const auto& url : urls)
            window->Sites().Append(uitest::Site(url, "text"));
    }
    std::vector<std::string> Urls() const
    {
        std::vector<std::string> urls;
        for (int row = 0; row < window->Sites().RowCount(); ++row)
            urls.push_back(window->Sites().Text(row, SiteEntry::Url));
        return urls;
    }
    std::vector<std::string> SavedUrls() const
    {
        EXPECT_TRUE(window->Saver().Flush());
        std::vector<SiteEntry> entries;
        DataFile::ReadEntries(window->Saver().Path(), entries);
        std::vector<std::string> urls;
        for (const auto& e : entries)
            urls.push_back(e.field(SiteEntry::Url));
        return urls;
    }
    void Select(std::initializer_list<int> rows)
    {
        auto* selection = window->ListCtrl().selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(window->Model().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Runs `command`; whatever Add/Edit dialog it opens gets `fill` run on
    // it, then OK. Returns how many dialogs opened.
    int WithDialog(const std::function<void()>& command,
                   const std::function<void(CAddSiteDlg&)>& fill)
    {
        int opened = 0;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<CAddSiteDlg*>(QApplication::activeModalWidget());
            if (!dialog || dialog->IsChecking() || !dialog->isVisible())
                return;
            ++opened;
            fill(*dialog);
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        user.start(10);
        command();
        return opened;
    }

    TempStore m_store;
    TempDir m_data;
    std::string m_oldDataHome;
    bool m_hadDataHome = false;
    MessageRecorder messages;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    std::unique_ptr<CKestrelleDlg> window;
    static constexpr std::time_t kNow = 1'700'000'000;
};

TEST_F(Commands, RemoveDeletesTheSelectedRowsInAscendingOrderThenSelectsRowZeroAndSaves)
{
    Fill({"http://a/", "http://b/", "http://c/", "http://d/", "http://e/"});
    Select({3, 1});
    window->RemoveSites();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a/", "http://c/", "http://e/"}));
    EXPECT_EQ(window->ListCtrl().SelectedRow(), 0);
    EXPECT_EQ(SavedUrls(), Urls());

    std::filesystem::remove(window->Saver().Path());
    Select({});
    window->RemoveSites(); // nothing selected: no row goes, the file is written all the same
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a/", "http://c/", "http://e/"}));
    EXPECT_EQ(window->ListCtrl().SelectedRow(), 0);
    EXPECT_EQ(SavedUrls(), Urls());
    EXPECT_TRUE(messages.All().empty());
}

TEST_F(Commands, AddPresetsTheStoredAddressAndAppendsAFreshRow)
{
    ScriptedHttpServer server;
    server.SetResponse("/", uitest::Page("<p>all well</p>"));
    Write("m_EmailAddress", "alerts@example.org");
    Fill({"first"});
    std::string preset;
    const int opened =
        WithDialog([&] { window->AddSite(); },
                   [&](CAddSiteDlg& dialog) {
                       preset = dialog.m_Email;
                       dialog.findChild<QLineEdit*>("urlEdit")->setText(
                           QString::fromStdString(server.url("/")));
                       dialog.findChild<QLineEdit*>("searchTextEdit")->setText("all well");
                   });
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(preset, "alerts@example.org");
    ASSERT_EQ(window->Sites().RowCount(), 2);
    const SiteEntry added = *window->Sites().Row(1);
    EXPECT_EQ(added.fields, (std::array<std::string, 6>{server.url("/"), "-", "-", "all well", "-",
                                                        "alerts@example.org"}));
    EXPECT_EQ(SavedUrls().size(), 2u);
}

TEST_F(Commands, EditChangesRowZeroWithoutASelectionAndNothingInAnEmptyList)
{
    ScriptedHttpServer server;
    server.SetResponse("/new", uitest::Page("<p>fresh</p>"));
    const auto edit = [&](CAddSiteDlg& dialog) {
        dialog.findChild<QLineEdit*>("urlEdit")->setText(
            QString::fromStdString(server.url("/new")));
        dialog.findChild<QLineEdit*>("searchTextEdit")->setText("fresh");
    };
    EXPECT_EQ(WithDialog([&] { window->EditSite(); }, edit), 0);

    auto site = uitest::Site("http://old/", "stale", "page", SiteEntry::kErrorMark);
    site.field(SiteEntry::EmailAddress) = "owner@example.org";
    window->Sites().Append(site);
    Fill({"second"});
    EXPECT_EQ(WithDialog([&] { window->EditSite(); }, edit), 1);
    const SiteEntry row = *window->Sites().Row(0);
    EXPECT_EQ(row.field(SiteEntry::Url), server.url("/new"));
    EXPECT_EQ(row.field(SiteEntry::SearchText), "fresh");
    EXPECT_EQ(row.field(SiteEntry::EmailAddress), "owner@example.org");
    EXPECT_EQ(row.field(SiteEntry::LastResponse), "page"); // the rest stays as it was
    EXPECT_EQ(row.mark, SiteEntry::kErrorMark);
    EXPECT_EQ(window->Sites().Text(1, SiteEntry::Url), "second");
    EXPECT_EQ(SavedUrls().front(), server.url("/new"));
}

TEST_F(Commands, EnabledCommandSwitchesTimerLabelAndIcon)
{
    window->RestartCheckTimer();
    const std::string next = "Next check at " + TimeText::Local(kNow + 30 * 60);
    const std::string off =
        "Kestrelle is currently disabled. Right-click the tray-icon and click Enabled.";
    const struct
    {
        const char* step;
        bool timer;
        std::string label;
        int icon;
    } table[] = {{"disable", false, off, 171},
                 {"Options OK while off", false, off, 171},
                 {"enable", true, next, 128}};
    for (const auto& row : table) {
        if (std::string(row.step) == "Options OK while off")
            window->RestartCheckTimer();
        else
            Entry(CSystemTray::kEnabledPosition)->trigger();
        EXPECT_EQ(window->Scheduler().IsActive(), row.timer) << row.step;
        EXPECT_EQ(Label(), row.label) << row.step;
        EXPECT_EQ(record->icon, row.icon) << row.step;
    }
}

TEST_F(Commands, TimerTicksRunAPassAndRenewTheLabel)
{
    Write("m_Minutes", "1");
    MakeWindow();
    int passes = 0;
    QObject::connect(window.get(), &CKestrelleDlg::PassEnded, [&](bool) { ++passes; });
    window->Scheduler().SetMinuteForTests(5);
    window->RestartCheckTimer();
    window->findChild<QLabel*>("labelNextCheck")->clear();
    ASSERT_TRUE(uitest::RunUntil([&] { return passes >= 2; }));
    EXPECT_EQ(Label(), "Next check at " + TimeText::Local(kNow + 60));
}

TEST_F(Commands, ExitAsksAndOnYesEndsWithCodeZeroWhileAPassRuns)
{
    std::vector<int> exitCodes;
    ProgramEnd::SetExitForTests([&](int code) { exitCodes.push_back(code); });
    FlashAlertThread::SetStepForTests(2);
    window->RestartCheckTimer();
    messages.Answer(UserMessage::Answer::No);
    Entry(7)->trigger();
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Are you sure you want to exit the "
                                                         "program?\nYour web sites will no longer "
                                                         "be monitored."});
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_TRUE(window->Scheduler().IsActive());

    // A pass whose page is held until the test lets it go.
    ScriptedHttpServer server;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    server.SetHandler("/held", [&](const std::string&) {
        std::unique_lock lock(mutex);
        released.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
        return ScriptedHttpServer::Bytes(uitest::Page("text"));
    });
    Fill({server.url("/held")});
    bool ended = false;
    QObject::connect(window.get(), &CKestrelleDlg::PassEnded, [&](bool) { ended = true; });
    window->CheckSites();
    ASSERT_TRUE(
        uitest::RunUntil([&] { return window->Sites().Text(0, SiteEntry::Status) == "CHECKING"; }));
    window->MinimizeToTray();
    FlashAlert flash(window->Presence(), window->Tray(), window->Sound());
    SiteAlert alert;
    alert.siteName = "example.com";
    flash.RaiseAlerts(alert);
    window->SaveSites();
    messages.Answer(UserMessage::Answer::Yes);
    Entry(7)->trigger();
    EXPECT_FALSE(ended);
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(FlashAlertThread::Running());
    EXPECT_FALSE(window->Scheduler().IsActive());
    EXPECT_FALSE(record->shown);
    std::vector<SiteEntry> saved; // the save asked for is on disk, not waited for here
    DataFile::ReadEntries(window->Saver().Path(), saved);
    EXPECT_EQ(saved.size(), 1u);

    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(uitest::RunUntil([&] { return ended; }));
    FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
    ProgramEnd::SetExitForTests({});
}

} // namespace
