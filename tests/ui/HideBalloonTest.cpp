#include "ui/HideBalloon.h"
#include "RecordingTrayHost.h"
#include "settings/CRegStore.h"
#include "support/TempDir.h"
#include "ui/CSystemTray.h"

#include <gtest/gtest.h>

namespace {
class HideBalloonTest : public testing::Test
{
protected:
    HideBalloonTest() : m_previous(CRegStore::SetConfigFolderForTests(m_dir.path()))
    {
        tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    }
    ~HideBalloonTest() override { CRegStore::SetConfigFolderForTests(m_previous); }

    static std::string Stored(const char* name)
    {
        return CRegStore::ReadString(RegRoot::CurrentUser, "Software", "Kestrelle", name);
    }

    TempDir m_dir;
    std::string m_previous;
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
};
} // namespace

TEST_F(HideBalloonTest, TenHidesWithNothingStoredShowNineBalloonsCountingFromZero)
{
    std::vector<std::string> counts;
    int shown = 0;
    for (int hide = 0; hide < 10; ++hide) {
        shown += HideBalloon::ShowIfDue(tray);
        counts.push_back(Stored("iShowBalloonTimes"));
    }
    EXPECT_EQ(shown, 9);
    EXPECT_EQ(counts, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "8"}));
    ASSERT_EQ(record->calls.filter("balloon ").size(), 9);
    EXPECT_EQ(record->calls.filter("balloon ").first(),
              "balloon Kestrelle is Running|Kestrelle will automatically monitor your web "
              "sites.|5000");
}

TEST_F(HideBalloonTest, StoredCountsAndTheUsersChoice)
{
    const struct
    {
        const char* hideFlag; // nullptr: not stored
        const char* times;
        bool shown;
        const char* storedAfter;
    } cases[] = {
        {nullptr, "7", true, "8"}, {nullptr, "8", false, "8"}, {"1", "3", false, "3"},
        {"1", nullptr, false, ""}, {"0", nullptr, true, "1"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CRegStore::SetConfigFolderForTests(dir.path());
        if (c.hideFlag)
            CRegStore::WriteString("Kestrelle", "bHideMinimizeBalloon", c.hideFlag);
        if (c.times)
            CRegStore::WriteString("Kestrelle", "iShowBalloonTimes", c.times);
        EXPECT_EQ(HideBalloon::ShowIfDue(tray), c.shown) << c.times;
        EXPECT_EQ(Stored("iShowBalloonTimes"), c.storedAfter);
    }
}
