#include "ui/CSystemTray.h"
#include "RecordingTrayHost.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {
struct Tray
{
    Tray()
    {
        QObject::connect(&tray, &CSystemTray::Command, [this](int id) { commands.push_back(id); });
    }
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
    std::vector<int> commands;
};
} // namespace

TEST(CSystemTrayTest, MenuHasItsEightEntriesWithOptionsAsDefault)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    QStringList entries;
    for (const QAction* a : t.tray.Menu()->actions())
        entries << (a->isSeparator() ? QString("-") : a->text() + " " + a->data().toString());
    EXPECT_EQ(entries, QStringList({"&About 57664", "&Options 32772", "-", "Enabled 32773", "-",
                                    "&Help 32775", "&Upgrade 32776", "&Exit 57665"}));
    EXPECT_EQ(t.tray.Menu()->defaultAction(), t.tray.Menu()->actions().at(1));
    EXPECT_EQ(t.record->calls, QStringList{"add"});
    EXPECT_EQ(t.record->tip, "Kestrelle is loading..");
}

TEST(CSystemTrayTest, EnabledEntryIsCheckedWhileOnAndShowsItsMarkWhileOff)
{
    Tray t;
    QAction* enabled = t.tray.Menu()->actions().at(CSystemTray::kEnabledPosition);
    for (bool on : {false, true}) {
        t.tray.SetMonitoringOn(on);
        EXPECT_EQ(enabled->isChecked(), on);
        EXPECT_EQ(enabled->icon().isNull(), on);
    }
}

TEST(CSystemTrayTest, DoubleClickRestoresAndSingleClickOnlyWhereHostsSendNoDoubleClick)
{
    using A = TrayHost::Activation;
    const struct
    {
        bool activationOnly;
        A activation;
        std::vector<int> commands;
    } cases[] = {{false, A::DoubleClick, {32772}},
                 {false, A::Trigger, {}},
                 {false, A::Middle, {}},
                 {false, A::Context, {}},
                 {true, A::Trigger, {32772}}};
    for (const auto& c : cases) {
        Tray t;
        t.record->activationOnly = c.activationOnly;
        t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
        t.tray.OnTrayNotify(c.activation);
        EXPECT_EQ(t.commands, c.commands) << int(c.activation);
    }
}

TEST(CSystemTrayTest, TextsAreCutToTheRecordWithoutSplittingACharacter)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    t.tray.SetTipText(std::string(126, 'a') + "\xc3\xa9"); // 128 bytes, the last letter two
    EXPECT_EQ(t.record->tip.toStdString(), std::string(126, 'a'));
    t.tray.SetTipText(std::string(128, 'b'));
    EXPECT_EQ(t.record->tip.toStdString(), std::string(127, 'b'));
    t.tray.ShowBalloonTip(std::string(300, 'x'), std::string(62, 'y') + "\xe2\x82\xac", 1000);
    EXPECT_EQ(t.record->calls.last().toStdString(),
              "balloon " + std::string(62, 'y') + "|" + std::string(255, 'x') + "|1000");
}

TEST(CSystemTrayTest, CallsFromOtherThreadsReachTheHostOnTheUiThreadInOrder)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    std::thread([&] {
        for (int i = 0; i < 50; ++i)
            t.tray.SetTipText(std::to_string(i));
    }).join();
    EXPECT_EQ(t.record->calls.size(), 1); // nothing yet but the add
    t.tray.SetIconById(CSystemTray::kIconAlert);
    ASSERT_EQ(t.record->calls.size(), 52);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(t.record->calls[i + 1], QString("tip %1").arg(i));
    EXPECT_EQ(t.record->calls.last(), "icon 178");
}

TEST(CSystemTrayTest, OnlyBalloonsReachTheHostBeforeCreateAndAfterRemove)
{
    Tray t;
    EXPECT_FALSE(t.tray.SetIconById(CSystemTray::kIconAlert));
    t.tray.ShowBalloonTip("down", "site may be down", 1000);
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    t.tray.RemoveIcon();
    EXPECT_FALSE(t.tray.SetTipText("x"));
    EXPECT_EQ(t.record->calls,
              QStringList({"balloon site may be down|down|1000", "add", "remove"}));
}
