#include "ui/TrayPresence.h"
#include "RecordingTrayHost.h"
#include "UiTestSupport.h"
#include "monitor/AlertChain.h"
#include "monitor/PassGate.h"
#include "platform/Clock.h"
#include "platform/TimeText.h"
#include "platform/UserMessage.h"
#include "settings/CRegStore.h"
#include "support/TempDir.h"
#include "ui/BalloonAlert.h"
#include "ui/FlashAlert.h"
#include "ui/FlashAlertThread.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {
constexpr std::time_t kNow = 1'700'000'000;

class TrayPresenceTest : public testing::Test
{
protected:
    TrayPresenceTest() : m_store(CRegStore::SetConfigFolderForTests(m_dir.path()))
    {
        Clock::SetFixedForTests(kNow);
        FlashAlertThread::SetStepForTests(2);
        TrayPresence::SetExitForTests([this](int code) { exitCodes.push_back(code); });
        m_handler = UserMessage::SetHandler([this](const std::string& text, auto, auto) {
            questions.push_back(text);
            return answer;
        });
        window.show();
        presence.CreateIcon();
    }
    ~TrayPresenceTest() override
    {
        FlashAlertThread::StopAndWait();
        FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
        TrayPresence::SetExitForTests({});
        UserMessage::SetHandler(m_handler);
        Clock::SetFixedForTests(0);
        CRegStore::SetConfigFolderForTests(m_store);
    }

    TrayPresence::Window Window(QWidget& w)
    {
        return {&w,
                [this] { ++passes; },
                [this] { return minutes; },
                [] {
                    return AlertSound::Choice{false, {}};
                },
                [this](const QString& text) { label = text.toStdString(); },
                [this] { ++savesFinished; }};
    }
    QAction* Entry(int position) { return presence.Tray().Menu()->actions().at(position); }
    int Count(const QString& prefix) const { return int(record->calls.filter(prefix).size()); }

    TempDir m_dir;
    std::string m_store;
    UserMessage::Handler m_handler;
    QWidget window;
    int passes = 0, minutes = 30, savesFinished = 0;
    std::string label;
    std::vector<int> exitCodes;
    std::vector<std::string> questions;
    UserMessage::Answer answer = UserMessage::Answer::Yes;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    TrayPresence presence{Window(window), std::make_unique<RecordingTrayHost>(record)};
};
} // namespace

TEST_F(TrayPresenceTest, EnabledCommandSwitchesTimerLabelAndIcon)
{
    presence.StartTimer();
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
            presence.RestartCheckTimer();
        else
            Entry(CSystemTray::kEnabledPosition)->trigger();
        EXPECT_EQ(presence.Scheduler().IsActive(), row.timer) << row.step;
        EXPECT_EQ(label, row.label) << row.step;
        EXPECT_EQ(record->icon, row.icon) << row.step;
    }
}

TEST_F(TrayPresenceTest, TimerTicksRunAPassAndRenewTheLabel)
{
    presence.Scheduler().SetMinuteForTests(5);
    minutes = 1;
    presence.StartTimer();
    label.clear();
    ASSERT_TRUE(uitest::RunUntil([&] { return passes >= 2; }));
    EXPECT_EQ(label, "Next check at " + TimeText::Local(kNow + 60));
}

TEST_F(TrayPresenceTest, WindowIsHiddenOnlyWhereATrayCanBringItBack)
{
    record->available = false;
    presence.MinimizeToTray();
    EXPECT_TRUE(window.isVisible() && window.isMinimized());
    EXPECT_EQ(Count("balloon "), 0); // no balloon about a tray that is not there

    window.showNormal();
    presence.Restored();
    record->available = true;
    presence.MinimizeToTray();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(Count("balloon "), 1);

    record->available = false; // the tray goes away
    presence.Tray().OnTrayChanged();
    EXPECT_TRUE(uitest::RunUntil([&] { return window.isVisible() && window.isMinimized(); }));
}

TEST_F(TrayPresenceTest, StoredMinimizedDecidesTheStartingWindow)
{
    const struct
    {
        const char* stored; // nullptr: missing
        bool tray, shown, visible, minimized;
    } cases[] = {{"1", true, false, false, false},
                 {"1", false, false, true, true},
                 {"0", true, true, true, false},
                 {"2", true, true, true, false},
                 {nullptr, true, true, true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        TempDir dir;
        CRegStore::SetConfigFolderForTests(dir.path());
        if (c.stored)
            CRegStore::WriteString("Kestrelle", "bMinimized", c.stored);
        QWidget w;
        w.show();
        auto r = std::make_shared<TrayRecord>();
        r->available = c.tray;
        TrayPresence p(Window(w), std::make_unique<RecordingTrayHost>(r));
        p.ApplyStoredMinimized();
        EXPECT_EQ(p.ShowAtStart(), c.shown);
        EXPECT_EQ(w.isVisible(), c.visible);
        EXPECT_TRUE(uitest::RunUntil([&] { return w.isMinimized() == c.minimized; }));
    }
}

TEST_F(TrayPresenceTest, FailuresWhileHiddenFlashWithOneSoundAndWhileShownOnlyBalloon)
{
    int sounds = 0;
    QObject::connect(&presence.Sound(), &AlertSound::Finished, [&] { ++sounds; });
    BalloonAlert balloon(presence);
    FlashAlert flash(presence);
    AlertChain alerts; // the desktop's steps as a pass meets them
    alerts.Add(balloon);
    alerts.Add(flash);
    SiteAlert alert;
    alert.siteName = "example.com";
    alert.balloonText = "text";
    alert.balloonTitle = "example.com may be down";

    presence.MinimizeToTray();
    std::thread([&] {
        alerts.RaiseAlerts(alert);
        alerts.RaiseAlerts(alert);
    }).join();
    ASSERT_TRUE(uitest::RunUntil([&] { return sounds == 1 && Count("icon 178") >= 2; }));
    EXPECT_EQ(Count("balloon example.com may be down|text|28800000"), 2);

    window.show();
    presence.Restored();
    ASSERT_TRUE(uitest::RunUntil([&] { return !g_bFlashRunning; }));
    record->calls.clear();
    alerts.RaiseAlerts(alert);
    alerts.RaiseAlerts(alert);
    QCoreApplication::processEvents();
    EXPECT_EQ(Count("balloon "), 2);
    EXPECT_EQ(Count("icon 178"), 0);
    EXPECT_EQ(sounds, 1);
}

TEST_F(TrayPresenceTest, ExitAsksAndOnYesEndsWithCodeZeroWhileAPassRuns)
{
    presence.StartTimer();
    answer = UserMessage::Answer::No;
    Entry(7)->trigger();
    ASSERT_EQ(questions, std::vector<std::string>{"Are you sure you want to exit the program?\n"
                                                  "Your web sites will no longer be monitored."});
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_TRUE(presence.Scheduler().IsActive());

    PassGate gate; // a pass that stays in the gate until the test lets it go
    std::promise<void> entered, release;
    std::thread pass([&] {
        gate.Run([&] {
            entered.set_value();
            release.get_future().wait();
        });
    });
    entered.get_future().wait();
    presence.MinimizeToTray();
    presence.FlashIfHidden("example.com");
    answer = UserMessage::Answer::Yes;
    Entry(7)->trigger();
    EXPECT_TRUE(gate.Busy());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(g_bFlashRunning);
    EXPECT_FALSE(presence.Scheduler().IsActive());
    EXPECT_FALSE(record->shown);
    EXPECT_EQ(savesFinished, 1);
    release.set_value();
    pass.join();
}
