#include "ui/CHistoryDlg.h"

#include "UiTestSupport.h"
#include "monitor/SiteList.h"
#include "platform/Clock.h"
#include "settings/StoreTestSupport.h"
#include "support/TempDir.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CResponseChart.h"
#include "ui/CSiteListCtrl.h"
#include "ui/SiteListModel.h"

#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

constexpr std::time_t kHour = 3600;

template <typename T = QLabel> T* Child(QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QString::fromLatin1(name));
}

// A data folder of the test's own, so that the window's history goes there.
class HistoryDetails : public ::testing::Test
{
protected:
    HistoryDetails() : m_oldDataHome(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(m_data.path()));
        std::filesystem::create_directories(m_data.file("Kestrelle"));
    }
    ~HistoryDetails() override
    {
        Clock::SetFixedForTests(0);
        qputenv("XDG_DATA_HOME", m_oldDataHome);
    }

    std::string HistoryFile() const { return m_data.file("Kestrelle/history.sqlite"); }

    static CHistoryDlg* OpenDetails(CKestrelleDlg& window)
    {
        Child<QPushButton>(&window, "buttonHistory")->click();
        auto* details = window.findChild<CHistoryDlg*>();
        if (!details)
            return nullptr;
        bool loaded = false;
        QObject::connect(details, &CHistoryDlg::Loaded, [&] { loaded = true; });
        return uitest::RunUntil([&] { return loaded; }) ? details : nullptr;
    }

    void WriteList(const std::vector<std::string>& urls)
    {
        std::string text;
        for (const auto& url : urls)
            text += url + "\r\n-\r\n-\r\nOpen\r\nBEGIN RESPONSE\r\n-\r\nEND RESPONSE\r\n\r\n";
        TempDir::WriteFile(m_data.file("Kestrelle/kestrelle.dat"), text);
    }

    ScriptedHttpServer server;
    TempDir m_data;
    TempStore m_store;
    QByteArray m_oldDataHome;
};

} // namespace

TEST_F(HistoryDetails, TheWindowRecordsItsPassesAndShowsTheSelectedSite)
{
    server.SetResponse("/up", uitest::Page("Open"));
    WriteList({server.url("/up"), server.url("/down")});
    CKestrelleDlg window;
    uitest::StartAndCheck(window);
    EXPECT_FALSE(Child(&window, "labelHistoryState")->isVisibleTo(&window));

    window.ListCtrl().setCurrentIndex(window.Model().index(1, 0));
    CHistoryDlg* details = OpenDetails(window);
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(Child(details, "labelSite")->text().toStdString(), server.url("/down"));
    EXPECT_EQ(Child(details, "labelUptimeDay")->text(), QStringLiteral("0.00%"));
    EXPECT_EQ(Child(details, "labelChecksDay")->text(), QStringLiteral("1 check, 1 failed"));
    ASSERT_EQ(Child<QTableWidget>(details, "tableOutages")->rowCount(), 1);
    EXPECT_EQ(Child<QTableWidget>(details, "tableOutages")->item(0, 1)->text(),
              QStringLiteral("still down"));
    EXPECT_FALSE(Child(details, "labelState")->isVisibleTo(details));
}

TEST_F(HistoryDetails, ACorruptHistoryIsReportedAndMonitoringGoesOn)
{
    server.SetResponse("/up", uitest::Page("Open"));
    WriteList({server.url("/up")});
    TempDir::WriteFile(HistoryFile(), std::string(4096, '\x7f'));
    CKestrelleDlg window;
    testing::internal::CaptureStderr();
    uitest::StartAndCheck(window);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(window.Sites().Text(0, SiteEntry::Status), "OK");
    EXPECT_TRUE(Child(&window, "labelHistoryState")->isVisibleTo(&window));
    EXPECT_NE(err.find("history is unavailable"), std::string::npos);

    CHistoryDlg* details = OpenDetails(window);
    ASSERT_NE(details, nullptr);
    EXPECT_TRUE(Child(details, "labelState")->isVisibleTo(details));
    EXPECT_TRUE(Child(details, "labelState")->text().startsWith("History is unavailable"));
}

TEST_F(HistoryDetails, AWeekWithTwoOutages)
{
    // Checks every 5 minutes for a week; down for an hour two days ago and
    // for 20 minutes six hours ago.
    const std::time_t now = 1700000000;
    Clock::SetFixedForTests(now);
    const std::string url = "http://shop.test/";
    std::vector<CheckRecord> checks;
    for (std::time_t t = now - 7 * 24 * kHour + 300; t <= now; t += 300) {
        const bool down = (t > now - 48 * kHour && t <= now - 47 * kHour) ||
                          (t > now - 6 * kHour && t <= now - 6 * kHour + 1200);
        checks.push_back({t, url, !down, down ? "refused" : "", down ? 0 : 200, 120});
    }
    {
        HistoryStore store(HistoryFile());
        ASSERT_TRUE(store.OpenForWriting());
        ASSERT_TRUE(store.Write(checks));
    }
    auto* details = new CHistoryDlg(HistoryFile(), url);
    bool loaded = false;
    QObject::connect(details, &CHistoryDlg::Loaded, [&] { loaded = true; });
    details->resize(760, 620);
    details->show();
    ASSERT_TRUE(uitest::RunUntil([&] { return loaded; }));
    EXPECT_EQ(Child(details, "labelUptimeDay")->text(), QStringLiteral("98.62%")); // 4 of 289 down
    EXPECT_EQ(Child(details, "labelChecksWeek")->text(), QStringLiteral("2016 checks, 16 failed"));
    ASSERT_EQ(Child<QTableWidget>(details, "tableOutages")->rowCount(), 2);
    EXPECT_EQ(Child<QTableWidget>(details, "tableOutages")->item(0, 2)->text(),
              QStringLiteral("20 min")); // newest first
    EXPECT_EQ(Child<QTableWidget>(details, "tableOutages")->item(1, 2)->text(),
              QStringLiteral("1 h 0 min"));
    EXPECT_EQ(Child<QTableWidget>(details, "tableOutages")->item(1, 3)->text(),
              QStringLiteral("refused"));

    // The down times are marked: two separate runs of red along the axis.
    const QImage image = Child<CResponseChart>(details, "chartResponse")->grab().toImage();
    int runs = 0;
    bool inRun = false;
    for (int x = 0; x < image.width(); ++x) {
        bool red = false;
        for (int y = image.height() / 2; y < image.height() && !red; ++y) {
            const QColor c = image.pixelColor(x, y);
            red = c.red() > 180 && c.green() < 110 && c.blue() < 110;
        }
        runs += red && !inRun;
        inRun = red;
    }
    EXPECT_EQ(runs, 2);
    details->close();
}
