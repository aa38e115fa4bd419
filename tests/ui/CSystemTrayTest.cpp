#include "ui/CSystemTray.h"
#include "RecordingTrayHost.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenu>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {
struct Tray
{
    std::shared_ptr<TrayRecord> record = std::make_shared<TrayRecord>();
    CSystemTray tray{std::make_unique<RecordingTrayHost>(record)};
};

// The commands the tray sends to the main window.
struct Commands
{
    explicit Commands(CSystemTray& tray)
    {
        QObject::connect(&tray, &CSystemTray::Command, [this](int id) { ids.push_back(id); });
    }
    std::vector<int> ids;
};

QStringList Balloons(const TrayRecord& record)
{
    return record.calls.filter(QStringLiteral("balloon "));
}
} // namespace

TEST(CSystemTrayTest, MenuHasItsEightEntriesWithOptionsAsDefault)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    const QList<QAction*> actions = t.tray.Menu()->actions();
    ASSERT_EQ(actions.size(), 8);
    const struct
    {
        const char* text;
        int command;
    } expected[] = {{"&About", 57664}, {"&Options", 32772}, {nullptr, 0},        {"Enabled", 32773},
                    {nullptr, 0},      {"&Help", 32775},    {"&Upgrade", 32776}, {"&Exit", 57665}};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        if (!expected[i].text) {
            EXPECT_TRUE(actions[i]->isSeparator());
            continue;
        }
        EXPECT_EQ(actions[i]->text().toStdString(), expected[i].text);
        EXPECT_EQ(actions[i]->data().toInt(), expected[i].command);
    }
    EXPECT_EQ(t.tray.Menu()->defaultAction(), actions[1]);
    EXPECT_TRUE(t.record->shown);
    EXPECT_EQ(t.record->icon, 128);
    EXPECT_EQ(t.record->tip, "Kestrelle is loading..");
}

TEST(CSystemTrayTest, EnabledEntryShowsTheMonitoringState)
{
    Tray t;
    QAction* enabled = t.tray.Menu()->actions().at(CSystemTray::kEnabledPosition);
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_TRUE(enabled->icon().isNull());
    t.tray.SetMonitoringOn(false);
    EXPECT_FALSE(enabled->isChecked());
    EXPECT_FALSE(enabled->icon().isNull()); // the off mark in place of the check
    t.tray.SetMonitoringOn(true);
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_TRUE(enabled->icon().isNull());
}

TEST(CSystemTrayTest, DoubleClickRestoresAndSingleClickDoesNothingOnXEmbedTrays)
{
    const struct
    {
        bool activationOnly;
        TrayHost::Activation activation;
        int commands;
    } cases[] = {
        {false, TrayHost::Activation::DoubleClick, 1}, {false, TrayHost::Activation::Trigger, 0},
        {false, TrayHost::Activation::Middle, 0},      {false, TrayHost::Activation::Context, 0},
        {true, TrayHost::Activation::Trigger, 1},
    };
    for (const auto& c : cases) {
        Tray t;
        t.record->activationOnly = c.activationOnly;
        t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
        Commands commands(t.tray);
        t.tray.OnTrayNotify(c.activation);
        ASSERT_EQ(commands.ids.size(), std::size_t(c.commands)) << static_cast<int>(c.activation);
        if (c.commands) {
            EXPECT_EQ(commands.ids[0], CSystemTray::kCmdRestore);
        }
    }
}

TEST(CSystemTrayTest, MenuEntryChosenBecomesItsCommand)
{
    Tray t;
    Commands commands(t.tray);
    t.tray.Menu()->actions().at(7)->trigger();
    EXPECT_EQ(commands.ids, std::vector<int>{CSystemTray::kCmdExit});
}

TEST(CSystemTrayTest, TextsAreCutToTheRecordWithoutSplittingACharacter)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    // 126 ASCII bytes then a two-byte letter: 128 bytes, one too many.
    const std::string tip = std::string(126, 'a') + "\xc3\xa9";
    t.tray.SetTipText(tip);
    EXPECT_EQ(t.record->tip.toUtf8().size(), 126);
    t.tray.SetTipText(std::string(127, 'b') + "c");
    EXPECT_EQ(t.record->tip.toStdString(), std::string(127, 'b'));

    t.tray.ShowBalloonTip(std::string(300, 'x'), std::string(62, 'y') + "\xe2\x82\xac", 1000);
    const QStringList balloons = Balloons(*t.record);
    ASSERT_EQ(balloons.size(), 1);
    EXPECT_EQ(balloons[0].toStdString(),
              "balloon " + std::string(62, 'y') + "|" + std::string(255, 'x') + "|1000");
}

TEST(CSystemTrayTest, CallsFromOtherThreadsArriveOnTheUiThreadInOrder)
{
    Tray t;
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    t.record->calls.clear();
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            t.tray.SetTipText(std::to_string(i));
    });
    worker.join();
    EXPECT_TRUE(t.record->calls.isEmpty());      // nothing touched the host off its thread
    t.tray.SetIconById(CSystemTray::kIconAlert); // the UI thread's call comes after them
    ASSERT_EQ(t.record->calls.size(), 51);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(t.record->calls[i], QStringLiteral("tip %1").arg(i));
    EXPECT_EQ(t.record->calls[50], "icon 178");
}

TEST(CSystemTrayTest, NothingButBalloonsReachesTheHostBeforeCreateOrAfterRemove)
{
    Tray t;
    EXPECT_FALSE(t.tray.SetIconById(CSystemTray::kIconAlert));
    EXPECT_FALSE(t.tray.SetTipText("x"));
    t.tray.ShowBalloonTip("down", "site may be down", 1000);
    t.tray.Create(CSystemTray::kTipRunning, CSystemTray::kIconNormal);
    t.tray.RemoveIcon();
    EXPECT_FALSE(t.tray.SetIconById(CSystemTray::kIconAlert));
    EXPECT_EQ(t.record->calls,
              QStringList({"balloon site may be down|down|1000", "add", "remove"}));
}
