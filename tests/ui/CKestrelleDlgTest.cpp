#include "ui/CKestrelleDlg.h"

#include "UiTestSupport.h"
#include "monitor/SiteList.h"
#include "settings/StoreTestSupport.h"
#include "support/TempDir.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CXPButton.h"
#include "ui/CheckScheduler.h"
#include "ui/NetworkWatch.h"
#include "ui/SiteListModel.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>

using uitest::Page;

namespace {

// Each window gets its own data folder and settings.
class CKestrelleDlgTest : public ::testing::Test
{
protected:
    CKestrelleDlgTest() : m_oldDataHome(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_data.path()));
    }
    ~CKestrelleDlgTest() override { qputenv("XDG_DATA_HOME", m_oldDataHome); }

    std::string DataFile() const { return m_data.file("Kestrelle/kestrelle.dat"); }

    void WriteList(const std::vector<std::pair<std::string, std::string>>& sites) const
    {
        std::filesystem::create_directories(m_data.file("Kestrelle"));
        std::string text;
        for (const auto& [url, search] : sites)
            text +=
                url + "\r\n-\r\n-\r\n" + search + "\r\nBEGIN RESPONSE\r\n-\r\nEND RESPONSE\r\n\r\n";
        TempDir::WriteFile(DataFile(), text);
    }

    TempDir m_data;
    TempStore m_store;
    QByteArray m_oldDataHome;
};

} // namespace

TEST_F(CKestrelleDlgTest, WindowFromItsTemplate)
{
    CKestrelleDlg window;
    uitest::StartAndCheck(window);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Kestrelle"));

    struct Button
    {
        const char* name;
        const char* text;
        bool visible;
    } const buttons[] = {
        {"buttonCheckNow", "&Check Now", true},
        {"buttonOptions", "&Options", true},
        {"buttonHelp", "&Help", true},
        {"buttonUpgrade", "Upgrade", true},
        {"buttonAdd", "&Add", true},
        {"buttonEdit", "&Edit", true},
        {"buttonRemove", "&Remove", true},
        {"buttonExit", "&Exit", false},
    };
    window.show();
    for (const Button& b : buttons) {
        auto* button = window.findChild<CXPButton*>(QString::fromLatin1(b.name));
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.text));
        EXPECT_EQ(button->isVisible(), b.visible) << b.name;
    }
    auto* checkNow = window.findChild<CXPButton*>(QStringLiteral("buttonCheckNow"));
    EXPECT_TRUE(checkNow->isDefault());
    EXPECT_EQ(window.findChild<QGroupBox*>(QStringLiteral("groupAbout"))->title(),
              QStringLiteral("What is Kestrelle?"));
    EXPECT_EQ(window.findChild<QGroupBox*>(QStringLiteral("groupSites"))->title(),
              QStringLiteral("Web Sites to Monitor"));
    EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("labelTagline"))->text(),
              QStringLiteral("Helping to Keep your Web Sites Online"));

    // Tab order as the template has it.
    const QStringList order{"buttonCheckNow", "buttonOptions", "buttonHelp",
                            "buttonUpgrade",  "buttonAdd",     "buttonEdit",
                            "buttonRemove",   "listSites",     "buttonExit"};
    QStringList seen;
    QWidget* w = checkNow;
    do {
        if (order.contains(w->objectName()) && !seen.contains(w->objectName()))
            seen << w->objectName();
        w = w->nextInFocusChain();
    } while (w != checkNow);
    EXPECT_EQ(seen, order);

    // The list's columns: each heading, a full time stamp and "CHECKING" fit
    // at the default size, the designed order of sizes kept; the hidden
    // e-mail column, one row at a time.
    const CSiteListCtrl& list = window.ListCtrl();
    const QFontMetrics cell(list.font());
    const QFontMetrics heading(list.header()->font());
    for (int column = 0; column < SiteEntry::EmailAddress; ++column) {
        const QString title = list.model()->headerData(column, Qt::Horizontal).toString();
        EXPECT_GT(list.columnWidth(column), heading.horizontalAdvance(title)) << column;
        EXPECT_GE(list.columnWidth(column), CSiteListCtrl::kColumnWidths[column]) << column;
    }
    EXPECT_GT(list.columnWidth(SiteEntry::Status), cell.horizontalAdvance("CHECKING"));
    EXPECT_GT(list.columnWidth(SiteEntry::LastCheck),
              cell.horizontalAdvance("12/28/2026 08:48:58 PM"));
    EXPECT_GT(list.columnWidth(SiteEntry::Url), list.columnWidth(SiteEntry::LastCheck));
    EXPECT_TRUE(list.isColumnHidden(SiteEntry::EmailAddress));
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
}

TEST_F(CKestrelleDlgTest, CloseEscapeAndMinimiseNeverLoseTheWindow)
{
    CKestrelleDlg window;
    uitest::StartAndCheck(window);
    const auto putAway = [&](const std::function<void()>& how) {
        window.RestoreFromTray();
        ASSERT_FALSE(window.isMinimized());
        how();
        QApplication::processEvents();
        EXPECT_TRUE(window.isMinimized());
        EXPECT_TRUE(window.isVisible()); // still there to bring back
    };
    putAway([&] { window.close(); });
    putAway([&] {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&window, &escape);
    });
    putAway([&] { window.setWindowState(window.windowState() | Qt::WindowMinimized); });
}

TEST_F(CKestrelleDlgTest, StartUpLoadsTheListAndChecksOnAWorker)
{
    ScriptedHttpServer server;
    // The first page is held until the test lets it go: were the pass on
    // this thread, start-up could not return before it.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    server.SetHandler("/held", [&](const std::string&) {
        std::unique_lock lock(mutex);
        released.wait_for(lock, std::chrono::seconds(20), [&] { return release; });
        return ScriptedHttpServer::Bytes(Page("<p>we are open</p>"));
    });
    server.SetResponse("/down", Page("<p>gone fishing</p>"));
    WriteList({{server.url("/held"), "we are open"}, {server.url("/down"), "we are open"}});

    CKestrelleDlg window;
    bool ended = false;
    QObject::connect(&window, &CKestrelleDlg::PassEnded, [&](bool) { ended = true; });
    window.OnInitDialog();
    ASSERT_EQ(window.Model().rowCount(), 2);
    EXPECT_NE(window.Sites().Text(0, SiteEntry::Status), "OK"); // still waiting for its page
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();

    ASSERT_TRUE(uitest::RunUntil([&] { return ended; }));
    const SiteListModel& model = window.Model();
    EXPECT_EQ(model.data(model.index(0, SiteEntry::Status)).toString(), QStringLiteral("OK"));
    // The cell tells why; the file keeps the bare Status.
    EXPECT_EQ(model.data(model.index(1, SiteEntry::Status)).toString(),
              QStringLiteral("ERROR: text not found"));
    EXPECT_NE(TempDir::ReadFile(DataFile()).find("\r\nERROR\r\n"), std::string::npos);
}

TEST_F(CKestrelleDlgTest, EachPassWritesTheMetricsFileTheSettingNames)
{
    ScriptedHttpServer server;
    server.SetResponse("/up", Page("<p>we are open</p>"));
    WriteList({{server.url("/up"), "we are open"}});
    const std::string metrics = m_data.file("kestrelle.prom");
    ASSERT_TRUE(CRegStore::WriteString(CRegStore::kProductKey, "MetricsFile", metrics));

    CKestrelleDlg window;
    uitest::StartAndCheck(window);
    EXPECT_NE(TempDir::ReadFile(metrics).find(
                  "kestrelle_site_up{site=\"127.0.0.1:" + std::to_string(server.port()) +
                  "\",url=\"" + server.url("/up") + "\"} 1\n"),
              std::string::npos)
        << TempDir::ReadFile(metrics);
}

TEST_F(CKestrelleDlgTest, OfflineLabelUntilTheNetworkIsBackThenAPassAtOnce)
{
    WriteList({});
    CKestrelleDlg window;
    uitest::StartAndCheck(window);
    const QLabel* label = window.findChild<QLabel*>("labelNextCheck");
    ASSERT_NE(label, nullptr);
    ASSERT_TRUE(label->text().startsWith(QStringLiteral("Next check at ")));

    window.Network().OnReachability(QNetworkInformation::Reachability::Disconnected);
    EXPECT_EQ(label->text().toStdString(), CheckScheduler::kOfflineText);
    EXPECT_TRUE(window.IsOffline());

    bool ended = false;
    QObject::connect(&window, &CKestrelleDlg::PassEnded, [&](bool) { ended = true; });
    window.Network().OnReachability(QNetworkInformation::Reachability::Online);
    ASSERT_TRUE(uitest::RunUntil([&] { return ended; })) << "no pass when the network came back";
    EXPECT_FALSE(window.IsOffline());
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("Next check at ")));
}
