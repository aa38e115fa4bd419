#include "ui/FlashAlertThread.h"
#include "RecordingTrayHost.h"
#include "UiTestSupport.h"
#include "ui/CSystemTray.h"

#include <gtest/gtest.h>

TEST(FlashAlertThreadTest, EpisodeNamesTheSiteFlashesAndEndsOnTheCurrentStatesPicture)
{
    FlashAlertThread::SetStepForTests(2);
    auto record = std::make_shared<TrayRecord>();
    CSystemTray tray(std::make_unique<RecordingTrayHost>(record));
    tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    tray.SetStateTip("Offline"); // the tip it ends on
    int sounds = 0;
    FlashAlertThread::KeepFlashing();
    FlashAlertThread::Start({&tray, "example.com", [&] { ++sounds; }});
    ASSERT_TRUE(uitest::RunUntil([&] { return record->calls.count("icon 128") >= 2; }));
    EXPECT_EQ(record->calls[2], "tip Kestrelle has detected example.com may be down");
    EXPECT_EQ(record->calls[3], "icon 178");
    tray.SetMonitoringOn(false); // the Enabled command while it flashes
    FlashAlertThread::StopAndWait();
    ASSERT_TRUE(uitest::RunUntil([&] { return record->calls.last() == "tip Offline"; }));
    EXPECT_EQ(record->icon, 171);
    EXPECT_EQ(sounds, 1);
    FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
}
