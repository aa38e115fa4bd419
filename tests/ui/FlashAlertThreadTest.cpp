#include "ui/FlashAlertThread.h"
#include "RecordingTrayHost.h"
#include "UiWait.h"
#include "ui/CSystemTray.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {
class FlashAlertThreadTest : public testing::Test
{
protected:
    FlashAlertThreadTest()
    {
        FlashAlertThread::SetStepForTests(2);
        tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
        record->calls.clear();
    }
    ~FlashAlertThreadTest() override
    {
        FlashAlertThread::StopAndWait();
        FlashAlertThread::SetStepForTests(FlashAlertThread::kStepMs);
    }

    FlashAlertJob Job()
    {
        return FlashAlertJob{&tray, "example.com", [this] { ++sounds; }};
    }
    void StartFlash()
    {
        FlashAlertThread::KeepFlashing();
        FlashAlertThread::Start(Job());
    }

    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
    std::atomic<int> sounds{0};
};
} // namespace

TEST_F(FlashAlertThreadTest, EpisodeSoundsOnceAndFlashesUntilStopped)
{
    StartFlash();
    ASSERT_TRUE(WaitUntil([&] { return record->calls.count("icon 178") >= 2; }));
    StartFlash(); // a second failure while it flashes
    FlashAlertThread::StopAndWait();
    EXPECT_FALSE(g_bFlashRunning);
    ASSERT_TRUE(WaitUntil([&] { return record->tip == "Kestrelle"; }));
    EXPECT_EQ(sounds, 1);
    EXPECT_EQ(record->calls.first(), "tip Kestrelle has detected example.com may be down");
    EXPECT_TRUE(record->calls.contains("icon 128"));
    EXPECT_EQ(record->icon, 128);
}

TEST_F(FlashAlertThreadTest, EpisodeEndsOnThePictureOfTheCurrentState)
{
    StartFlash();
    ASSERT_TRUE(WaitUntil([&] { return record->calls.count("icon 178") >= 1; }));
    tray.SetMonitoringOn(false); // the Enabled command while it flashes
    FlashAlertThread::StopAndWait();
    ASSERT_TRUE(WaitUntil([&] { return record->tip == "Kestrelle"; }));
    EXPECT_EQ(record->icon, 171);
}
