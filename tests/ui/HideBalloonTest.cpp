#include "ui/HideBalloon.h"
#include "RecordingTrayHost.h"
#include "settings/CRegStore.h"
#include "support/TempDir.h"
#include "ui/CSystemTray.h"

#include <gtest/gtest.h>

namespace {
std::string StoredTimes()
{
    return CRegStore::ReadString(RegRoot::CurrentUser, "Software", "Kestrelle",
                                 "iShowBalloonTimes");
}

struct Store
{
    Store() : previous(CRegStore::SetConfigFolderForTests(dir.path())) {}
    ~Store() { CRegStore::SetConfigFolderForTests(previous); }
    TempDir dir;
    std::string previous;
};
} // namespace

TEST(HideBalloonTest, TenHidesWithNothingStoredShowNineBalloonsCountingFromZero)
{
    Store store;
    auto record = std::make_shared<TrayRecord>();
    CSystemTray tray(std::make_unique<RecordingTrayHost>(record));
    std::vector<std::string> counts;
    for (int hide = 0; hide < 10; ++hide) {
        HideBalloon::ShowIfDue(tray);
        counts.push_back(StoredTimes());
    }
    EXPECT_EQ(counts, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "8"}));
    const QStringList balloons = record->calls.filter("balloon ");
    ASSERT_EQ(balloons.size(), 9);
    EXPECT_EQ(balloons.first(), "balloon Kestrelle is Running|Kestrelle will automatically "
                                "monitor your web sites.|5000");
}

TEST(HideBalloonTest, StoredCountsAndTheUsersChoice)
{
    const struct
    {
        const char* hideFlag; // nullptr: not stored
        const char* times;
        bool shown;
        const char* timesAfter;
    } cases[] = {{nullptr, "7", true, "8"},
                 {nullptr, "8", false, "8"},
                 {"1", "3", false, "3"},
                 {"1", nullptr, false, ""},
                 {"0", nullptr, true, "1"}};
    for (const auto& c : cases) {
        Store store;
        if (c.hideFlag)
            CRegStore::WriteString("Kestrelle", "bHideMinimizeBalloon", c.hideFlag);
        if (c.times)
            CRegStore::WriteString("Kestrelle", "iShowBalloonTimes", c.times);
        CSystemTray tray(std::make_unique<RecordingTrayHost>(std::make_shared<TrayRecord>()));
        EXPECT_EQ(HideBalloon::ShowIfDue(tray), c.shown) << c.times;
        EXPECT_EQ(StoredTimes(), c.timesAfter);
    }
}
