#include "MessageRecorder.h"
#include "UiTestSupport.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/SiteList.h"
#include "settings/StoreTestSupport.h"
#include "ui/CAddSiteDlg.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSiteListCtrl.h"
#include "ui/SiteListModel.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// A main window over a list of the test's own, in a data folder and a
// settings store of its own, without the start-up pass.
class Commands : public ::testing::Test
{
protected:
    Commands()
    {
        const char* old = std::getenv("XDG_DATA_HOME");
        m_hadDataHome = old != nullptr;
        m_oldDataHome = old ? old : "";
        setenv("XDG_DATA_HOME", m_data.path().c_str(), 1);
        window = std::make_unique<CKestrelleDlg>();
        window->ListCtrl().SetSiteModel(&window->Model());
    }
    ~Commands() override
    {
        window.reset();
        if (m_hadDataHome)
            setenv("XDG_DATA_HOME", m_oldDataHome.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

    void Fill(const std::vector<std::string>& urls)
    {
        for (const auto& url : urls)
            window->Sites().Append(uitest::Site(url, "text"));
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
        EXPECT_TRUE(window->Saver().Flush());
        std::vector<SiteEntry> entries;
        DataFile::ReadEntries(window->Saver().Path(), entries);
        std::vector<std::string> urls;
        for (const auto& e : entries)
            urls.push_back(e.field(SiteEntry::Url));
        return urls;
    }
    void Select(std::initializer_list<int> rows)
    {
        auto* selection = window->ListCtrl().selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(window->Model().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Runs `command`; whatever Add/Edit dialog it opens gets `fill` run on
    // it, then OK. Returns how many dialogs opened.
    int WithDialog(const std::function<void()>& command,
                   const std::function<void(CAddSiteDlg&)>& fill)
    {
        int opened = 0;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<CAddSiteDlg*>(QApplication::activeModalWidget());
            if (!dialog || dialog->IsChecking() || !dialog->isVisible())
                return;
            ++opened;
            fill(*dialog);
            dialog->findChild<QPushButton*>("okButton")->click();
        });
        user.start(10);
        command();
        return opened;
    }

    TempStore m_store;
    TempDir m_data;
    std::string m_oldDataHome;
    bool m_hadDataHome = false;
    MessageRecorder messages;
    std::unique_ptr<CKestrelleDlg> window;
};

TEST_F(Commands, RemoveDeletesTheSelectedRowsInAscendingOrderThenSelectsRowZeroAndSaves)
{
    Fill({"http://a/", "http://b/", "http://c/", "http://d/", "http://e/"});
    Select({3, 1});
    window->RemoveSites();
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a/", "http://c/", "http://e/"}));
    EXPECT_EQ(window->ListCtrl().SelectedRow(), 0);
    EXPECT_EQ(SavedUrls(), Urls());

    std::filesystem::remove(window->Saver().Path());
    Select({});
    window->RemoveSites(); // nothing selected: no row goes, the file is written all the same
    EXPECT_EQ(Urls(), (std::vector<std::string>{"http://a/", "http://c/", "http://e/"}));
    EXPECT_EQ(window->ListCtrl().SelectedRow(), 0);
    EXPECT_EQ(SavedUrls(), Urls());
    EXPECT_TRUE(messages.All().empty());
}

TEST_F(Commands, AddPresetsTheStoredAddressAndAppendsAFreshRow)
{
    ScriptedHttpServer server;
    server.SetResponse("/", uitest::Page("<p>all well</p>"));
    Write("m_EmailAddress", "alerts@example.org");
    Fill({"first"});
    std::string preset;
    const int opened =
        WithDialog([&] { window->AddSite(); },
                   [&](CAddSiteDlg& dialog) {
                       preset = dialog.m_Email;
                       dialog.findChild<QLineEdit*>("urlEdit")->setText(
                           QString::fromStdString(server.url("/")));
                       dialog.findChild<QLineEdit*>("searchTextEdit")->setText("all well");
                   });
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(preset, "alerts@example.org");
    ASSERT_EQ(window->Sites().RowCount(), 2);
    const SiteEntry added = *window->Sites().Row(1);
    EXPECT_EQ(added.fields, (std::array<std::string, 6>{server.url("/"), "-", "-", "all well", "-",
                                                        "alerts@example.org"}));
    EXPECT_EQ(SavedUrls().size(), 2u);
}

TEST_F(Commands, EditChangesRowZeroWithoutASelectionAndNothingInAnEmptyList)
{
    ScriptedHttpServer server;
    server.SetResponse("/new", uitest::Page("<p>fresh</p>"));
    const auto edit = [&](CAddSiteDlg& dialog) {
        dialog.findChild<QLineEdit*>("urlEdit")->setText(
            QString::fromStdString(server.url("/new")));
        dialog.findChild<QLineEdit*>("searchTextEdit")->setText("fresh");
    };
    EXPECT_EQ(WithDialog([&] { window->EditSite(); }, edit), 0);

    auto site = uitest::Site("http://old/", "stale", "page", SiteEntry::kErrorMark);
    site.field(SiteEntry::EmailAddress) = "owner@example.org";
    window->Sites().Append(site);
    Fill({"second"});
    EXPECT_EQ(WithDialog([&] { window->EditSite(); }, edit), 1);
    const SiteEntry row = *window->Sites().Row(0);
    EXPECT_EQ(row.field(SiteEntry::Url), server.url("/new"));
    EXPECT_EQ(row.field(SiteEntry::SearchText), "fresh");
    EXPECT_EQ(row.field(SiteEntry::EmailAddress), "owner@example.org");
    EXPECT_EQ(row.field(SiteEntry::LastResponse), "page"); // the rest stays as it was
    EXPECT_EQ(row.mark, SiteEntry::kErrorMark);
    EXPECT_EQ(window->Sites().Text(1, SiteEntry::Url), "second");
    EXPECT_EQ(SavedUrls().front(), server.url("/new"));
}

} // namespace
