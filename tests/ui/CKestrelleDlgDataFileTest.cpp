// The main window's list file, shared with the checker run from cron.

#include "MessageRecorder.h"
#include "UiTestSupport.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/SiteList.h"
#include "platform/InputFile.h"
#include "settings/StoreTestSupport.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSiteListCtrl.h"
#include "ui/SiteListModel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

namespace {

class DataFileOfTheWindow : public ::testing::Test
{
protected:
    DataFileOfTheWindow()
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_oldDataHome = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
        window = std::make_unique<CKestrelleDlg>();
        window->ListCtrl().SetSiteModel(&window->Model());
        path = window->Saver().Path();
    }
    ~DataFileOfTheWindow() override
    {
        InputFile::FailReadsForTests("", 0);
        window.reset();
        m_oldDataHome ? setenv("XDG_DATA_HOME", m_oldDataHome->c_str(), 1)
                      : unsetenv("XDG_DATA_HOME");
    }

    void WriteFile(const std::vector<std::string>& urls, const std::string& status = "-")
    {
        std::vector<SiteEntry> entries;
        for (const std::string& url : urls) {
            entries.push_back(uitest::Site(url, "text"));
            entries.back().field(SiteEntry::Status) = status;
        }
        ASSERT_TRUE(DataFile::SaveEntries(entries, path));
    }
    std::vector<std::string> Urls() const
    {
        std::vector<std::string> urls;
        for (int row = 0; row < window->Sites().RowCount(); ++row)
            urls.push_back(window->Sites().Text(row, SiteEntry::Url));
        return urls;
    }
    std::vector<std::string> SavedUrls() const
    {
        std::vector<SiteEntry> entries;
        DataFile::ReadEntries(path, entries);
        std::vector<std::string> urls;
        for (const auto& e : entries)
            urls.push_back(e.field(SiteEntry::Url));
        return urls;
    }

    TempStore m_store;
    TempDir m_data;
    std::optional<std::string> m_oldDataHome;
    MessageRecorder messages;
    std::unique_ptr<CKestrelleDlg> window;
    std::string path;
};

TEST_F(DataFileOfTheWindow, SaveTakesInWhatAnotherProgramAddedAndRemoved)
{
    WriteFile({"http://a.test/", "http://b.test/", "http://c.test/"});
    window->LoadSites();
    // The user adds one and edits another ...
    window->Sites().Append(uitest::Site("http://typed.test/", "text"));
    window->Sites().SetText(2, SiteEntry::Url, "http://c-edited.test/");
    // ... while another program removes b and adds d.
    WriteFile({"http://a.test/", "http://c.test/", "http://d.test/"}, "OK");

    window->SaveSites();
    EXPECT_TRUE(window->Saver().Flush());
    const std::vector<std::string> expected = {"http://a.test/", "http://c-edited.test/",
                                               "http://typed.test/", "http://d.test/"};
    EXPECT_EQ(SavedUrls(), expected);
    EXPECT_TRUE(uitest::RunUntil([&] { return Urls() == expected; })) << Urls().size();
    EXPECT_EQ(window->Model().rowCount(), 4);
}

TEST_F(DataFileOfTheWindow, ListThatDidNotLoadWholeIsNotSavedOver)
{
    std::vector<std::string> ten;
    for (int i = 0; i < 10; ++i)
        ten.push_back("http://site" + std::to_string(i) + ".test/");
    WriteFile(ten);
    const std::string before = TempDir::ReadFile(path);

    InputFile::FailReadsForTests(path, 300); // the disk fails part-way
    testing::internal::CaptureStderr();
    window->LoadSites();
    const int loaded = window->Sites().RowCount();
    EXPECT_LT(loaded, 10);
    ASSERT_EQ(messages.All().size(), 1u);
    EXPECT_NE(messages.Texts()[0].find(path), std::string::npos) << messages.Texts()[0];

    window->Sites().Append(uitest::Site("http://typed.test/", "text"));
    window->SaveSites();
    EXPECT_FALSE(window->Saver().Flush());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(TempDir::ReadFile(path), before);

    // Once the file reads again, nothing of it nor of the user's is lost.
    InputFile::FailReadsForTests("", 0);
    window->SaveSites();
    EXPECT_TRUE(window->Saver().Flush());
    ten.insert(ten.begin() + loaded, "http://typed.test/");
    EXPECT_EQ(SavedUrls(), ten);
    EXPECT_TRUE(uitest::RunUntil([&] { return Urls() == ten; }));
}

} // namespace
