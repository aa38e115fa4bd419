#include "ui/TrayPresence.h"
#include "RecordingTrayHost.h"
#include "UiWait.h"
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
#include <QMenu>
#include <QWidget>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
constexpr std::time_t kNow = 1'700'000'000;

class TrayPresenceTest : public testing::Test
{
protected:
    TrayPresenceTest() : m_previousStore(CRegStore::SetConfigFolderForTests(m_dir.path()))
    {
        Clock::SetFixedForTests(kNow);
        FlashAlertThread::SetStepForTests(2);
        TrayPresence::SetExitForTests([this](int code) { exitCodes.push_back(code); });
        m_previousHandler = UserMessage::SetHandler(
            [this](const std::string& text, UserMessage::Icon, UserMessage::Buttons) {
                questions.push_back(text);
                return answer;
            });
        window.show();
    }
    ~TrayPresenceTest() override
    {
        FlashAlertThread::StopAndWait();
        FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
        TrayPresence::SetExitForTests({});
        UserMessage::SetHandler(m_previousHandler);
        Clock::SetFixedForTests(0);
        CRegStore::SetConfigFolderForTests(m_previousStore);
    }

    TrayPresence::Window Window()
    {
        TrayPresence::Window w;
        w.widget = &window;
        w.checkSites = [this] { ++passes; };
        w.minutes = [this] { return minutes; };
        w.soundChoice = [] { return AlertSound::Choice{false, {}}; };
        w.showNextCheck = [this](const QString& text) { label = text.toStdString(); };
        w.finishSaves = [this] { ++savesFinished; };
        return w;
    }
    static std::string Stored(const char* name)
    {
        return CRegStore::ReadString(RegRoot::CurrentUser, "Software", "Kestrelle", name);
    }
    int Balloons() const { return int(record->calls.filter("balloon ").size()); }

    TempDir m_dir;
    std::string m_previousStore;
    UserMessage::Handler m_previousHandler;
    QWidget window;
    int passes = 0;
    int minutes = 30;
    int savesFinished = 0;
    std::string label;
    std::vector<int> exitCodes;
    std::vector<std::string> questions;
    UserMessage::Answer answer = UserMessage::Answer::Yes;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    TrayPresence presence{Window(), std::make_unique<RecordingTrayHost>(record)};
};
} // namespace

TEST_F(TrayPresenceTest, EnabledCommandSwitchesTimerLabelIconAndMark)
{
    presence.CreateIcon();
    presence.StartTimer();
    QAction* enabled = presence.Tray().Menu()->actions().at(CSystemTray::kEnabledPosition);
    const std::string next = "Next check at " + TimeText::Local(kNow + 30 * 60);
    const std::string disabled = CheckScheduler::kDisabledText;
    EXPECT_TRUE(presence.Scheduler().IsActive());
    EXPECT_EQ(label, next);

    enabled->trigger();
    EXPECT_FALSE(presence.Scheduler().IsActive());
    EXPECT_EQ(label, disabled);
    EXPECT_EQ(record->icon, 171);
    EXPECT_FALSE(enabled->isChecked());

    // Options OK while off: still off, no timer, the same label.
    presence.RestartCheckTimer();
    EXPECT_FALSE(presence.Scheduler().IsActive());
    EXPECT_EQ(label, disabled);
    EXPECT_EQ(record->icon, 171);

    enabled->trigger();
    EXPECT_TRUE(presence.Scheduler().IsActive());
    EXPECT_EQ(label, next);
    EXPECT_EQ(record->icon, 128);
    EXPECT_TRUE(enabled->isChecked());
}

TEST_F(TrayPresenceTest, TimerTicksRunAPassAndRenewTheLabel)
{
    presence.Scheduler().SetMinuteForTests(5);
    minutes = 1;
    presence.StartTimer();
    label.clear();
    ASSERT_TRUE(WaitUntil([&] { return passes >= 2; }));
    EXPECT_EQ(label, "Next check at " + TimeText::Local(kNow + 60));
}

TEST_F(TrayPresenceTest, WindowGoesIntoTheTrayOnlyWhereATrayIs)
{
    presence.CreateIcon();
    record->available = false;
    presence.MinimizeToTray();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    EXPECT_EQ(Stored("bMinimized"), "1");
    EXPECT_EQ(Balloons(), 0);

    window.showNormal();
    presence.Restored();
    EXPECT_EQ(Stored("bMinimized"), "0");
    record->available = true;
    presence.MinimizeToTray();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(presence.HiddenInTray());
    EXPECT_EQ(Balloons(), 1);
}

TEST_F(TrayPresenceTest, StoredMinimizedDecidesTheStartingWindow)
{
    const struct
    {
        const char* stored; // nullptr: missing
        bool tray;
        bool shownAtStart;
        bool visible;
        bool minimized;
    } cases[] = {
        {"1", true, false, false, false},   {"1", false, false, true, true},
        {"0", true, true, true, false},     {"2", true, true, true, false},
        {nullptr, true, true, true, false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CRegStore::SetConfigFolderForTests(dir.path());
        if (c.stored)
            CRegStore::WriteString("Kestrelle", "bMinimized", c.stored);
        QWidget w;
        w.show();
        auto r = std::make_shared<TrayRecord>();
        r->available = c.tray;
        TrayPresence::Window win = Window();
        win.widget = &w;
        TrayPresence p(win, std::make_unique<RecordingTrayHost>(r));
        p.CreateIcon();
        p.ApplyStoredMinimized();
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        EXPECT_EQ(p.ShowAtStart(), c.shownAtStart);
        EXPECT_EQ(w.isVisible(), c.visible);
        EXPECT_EQ(w.isMinimized(), c.minimized);
    }
}

TEST_F(TrayPresenceTest, FailuresWhileHiddenFlashWithOneSoundAndWhileShownOnlyBalloon)
{
    int sounds = 0;
    QObject::connect(&presence.Sound(), &AlertSound::Finished, [&] { ++sounds; });
    presence.CreateIcon();
    presence.MinimizeToTray();
    record->calls.clear();
    // The desktop's steps as a pass meets them, the mail step between.
    BalloonAlert balloon(presence);
    FlashAlert flash(presence);
    AlertChain alerts;
    alerts.Add(balloon);
    alerts.Add(flash);
    SiteAlert alert;
    alert.siteName = "example.com";
    alert.balloonText = "text";
    alert.balloonTitle = "example.com may be down";
    std::thread pass([&] {
        alerts.RaiseAlerts(alert);
        alerts.RaiseAlerts(alert);
    });
    pass.join();
    ASSERT_TRUE(WaitUntil([&] { return sounds >= 1 && record->calls.count("icon 178") >= 2; }));
    EXPECT_EQ(Balloons(), 2);

    window.show();
    presence.Restored();
    ASSERT_TRUE(WaitUntil([&] { return !g_bFlashRunning && record->tip == "Kestrelle"; }));
    record->calls.clear();
    alerts.RaiseAlerts(alert);
    alerts.RaiseAlerts(alert);
    QCoreApplication::processEvents();
    EXPECT_EQ(Balloons(), 2);
    EXPECT_EQ(record->calls.count("icon 178"), 0);
    EXPECT_EQ(sounds, 1);
}

TEST_F(TrayPresenceTest, ExitAsksAndOnYesEndsWithCodeZeroWhileAPassRuns)
{
    presence.CreateIcon();
    presence.StartTimer();
    answer = UserMessage::Answer::No;
    presence.Tray().Menu()->actions().at(7)->trigger();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0], "Are you sure you want to exit the program?\n"
                            "Your web sites will no longer be monitored.");
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_TRUE(presence.Scheduler().IsActive());

    // A pass that stays inside the gate until the test lets it go.
    PassGate gate;
    std::mutex mutex;
    std::condition_variable changed;
    bool inPass = false, release = false;
    std::thread worker([&] {
        gate.Run([&] {
            std::unique_lock<std::mutex> lock(mutex);
            inPass = true;
            changed.notify_all();
            changed.wait(lock, [&] { return release; });
        });
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return inPass; });
    }
    presence.MinimizeToTray();
    presence.FlashIfHidden("example.com");
    answer = UserMessage::Answer::Yes;
    presence.Tray().Menu()->actions().at(7)->trigger();
    EXPECT_TRUE(gate.Busy());
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(g_bFlashRunning);
    EXPECT_FALSE(presence.Scheduler().IsActive());
    EXPECT_FALSE(presence.Tray().Enabled());
    EXPECT_FALSE(record->shown);
    EXPECT_EQ(savesFinished, 1);
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    changed.notify_all();
    worker.join();
}
