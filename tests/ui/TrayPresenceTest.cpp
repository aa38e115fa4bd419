#include "ui/TrayPresence.h"
#include "RecordingTrayHost.h"
#include "UiTestSupport.h"
#include "monitor/AlertChain.h"
#include "settings/CRegStore.h"
#include "support/TempDir.h"
#include "ui/AlertSound.h"
#include "ui/BalloonAlert.h"
#include "ui/CSystemTray.h"
#include "ui/FlashAlert.h"
#include "ui/FlashAlertThread.h"

#include <QCoreApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace {
class TrayPresenceTest : public testing::Test
{
protected:
    TrayPresenceTest() : m_store(CRegStore::SetConfigFolderForTests(m_dir.path()))
    {
        FlashAlertThread::SetStepForTests(2);
        window.show();
        tray.Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    }
    ~TrayPresenceTest() override
    {
        FlashAlertThread::StopAndWait();
        FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
        CRegStore::SetConfigFolderForTests(m_store);
    }

    int Count(const QString& prefix) const { return int(record->calls.filter(prefix).size()); }

    TempDir m_dir;
    std::string m_store;
    QWidget window;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
    TrayPresence presence{window, tray};
};
} // namespace

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
    tray.OnTrayChanged();
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
        CSystemTray t(std::make_unique<RecordingTrayHost>(r));
        TrayPresence p(w, t);
        p.ApplyStoredMinimized();
        EXPECT_EQ(p.ShowAtStart(), c.shown);
        EXPECT_EQ(w.isVisible(), c.visible);
        EXPECT_TRUE(uitest::RunUntil([&] { return w.isMinimized() == c.minimized; }));
    }
}

TEST_F(TrayPresenceTest, FailuresWhileHiddenFlashWithOneSoundAndWhileShownOnlyBalloon)
{
    int sounds = 0;
    AlertSound sound([] { return AlertSound::Choice{false, {}}; });
    QObject::connect(&sound, &AlertSound::Finished, [&] { ++sounds; });
    BalloonAlert balloon(tray);
    FlashAlert flash(presence, tray, sound);
    AlertChain alerts; // the desktop's steps as a pass meets them
    alerts.Add(balloon);
    alerts.Add(flash);
    SiteAlert alert;
    alert.siteName = "example.com";
    alert.balloonText = "text";
    alert.balloonTitle = "example.com may be down";
    alert.reason = "connection refused";

    presence.MinimizeToTray();
    std::thread([&] { // two passes, one failure each
        alerts.PassStarted();
        alerts.RaiseAlerts(alert);
        alerts.PassStarted();
        alerts.RaiseAlerts(alert);
    })
        .join();
    ASSERT_TRUE(uitest::RunUntil([&] { return sounds == 1 && Count("icon 178") >= 2; }));
    EXPECT_EQ(Count("balloon example.com may be down|text\nconnection refused|28800000"), 2);

    window.show();
    presence.Restored();
    ASSERT_TRUE(uitest::RunUntil([&] { return !FlashAlertThread::Running(); }));
    record->calls.clear();
    alerts.PassStarted();
    alerts.RaiseAlerts(alert);
    alerts.PassStarted();
    alerts.RaiseAlerts(alert);
    QCoreApplication::processEvents();
    EXPECT_EQ(Count("balloon "), 2);
    EXPECT_EQ(Count("icon 178"), 0);
    EXPECT_EQ(sounds, 1);
}

TEST_F(TrayPresenceTest, SeveralSitesDownInOnePassShareOneBalloon)
{
    BalloonAlert balloon(tray);
    const auto down = [&](const std::string& name) {
        SiteAlert alert;
        alert.siteName = name;
        alert.balloonText = "Kestrelle was unable to find the text \"x\" on " + name;
        alert.balloonTitle = name + " may be down";
        balloon.RaiseAlerts(alert);
    };
    balloon.PassStarted();
    down("one.test");
    QCoreApplication::processEvents();
    // One site: the balloon as ever.
    EXPECT_EQ(record->calls.filter("balloon ").last(),
              "balloon one.test may be down|Kestrelle was unable to find the text \"x\" on "
              "one.test|28800000");
    down("two.test");
    down("three.test");
    QCoreApplication::processEvents();
    EXPECT_EQ(record->calls.filter("balloon ").last(),
              "balloon 3 sites may be down|one.test\ntwo.test\nthree.test|28800000");
    // The next pass starts the count again.
    balloon.PassStarted();
    down("two.test");
    QCoreApplication::processEvents();
    EXPECT_TRUE(record->calls.filter("balloon ").last().startsWith("balloon two.test may be down"));

    // Many names: as many as fit, then how many more.
    std::vector<std::string> names;
    for (int i = 0; i < 100; ++i)
        names.push_back("site-number-" + std::to_string(i) + ".example.org");
    const std::string text = BalloonAlert::ManySitesText(names);
    EXPECT_LE(text.size(), CSystemTray::kMaxBalloonTextBytes);
    const std::size_t shown = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), "and " + std::to_string(100 - shown) + " more");
}

TEST_F(TrayPresenceTest, WindowComesBackWhereItWasAfterHidingAndAfterARestart)
{
    window.setGeometry(123, 77, 420, 310);
    const QRect before = window.geometry();
    presence.MinimizeToTray();
    window.setGeometry(0, 0, 200, 100); // where a window manager might map it anew
    presence.BeforeShow();
    window.show();
    presence.Restored();
    EXPECT_EQ(window.geometry(), before);

    // The next run: a new window placed from the stored value.
    QWidget next;
    CSystemTray nextTray{std::make_unique<RecordingTrayHost>(std::make_shared<TrayRecord>())};
    TrayPresence nextPresence{next, nextTray};
    nextPresence.Place();
    next.show();
    EXPECT_EQ(next.geometry(), before);
}
