#include "ui/CAddSiteDlg.h"
#include "MessageRecorder.h"
#include "net/FetchWaiter.h"
#include "support/ScriptedHttpServer.h"
#include "ui/EventLoopWaiter.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Icon = UserMessage::Icon;
using Answer = UserMessage::Answer;

const char* const kUrlMessage = "Please enter a valid URL in the format http://www.example.com/";
const char* const kTextMessage =
    "Please enter a piece of text or html to search for within the web page.";

struct AddSite
{
    MessageRecorder messages;
    CAddSiteDlg dialog;

    AddSite(const std::string& url, const std::string& text, const std::string& email = {})
    {
        dialog.m_URL = url;
        dialog.m_SearchText = text;
        dialog.m_Email = email;
        dialog.OnInitDialog();
        dialog.show();
    }
    QLineEdit* Edit(const char* name) { return dialog.findChild<QLineEdit*>(name); }
    QPushButton* Button(const char* name) { return dialog.findChild<QPushButton*>(name); }
};

TEST(CAddSiteDlg, AnAddressWithoutHttpOrAnEmptySearchTextIsRefusedBeforeAnyFetch)
{
    ScriptedHttpServer server;
    const struct
    {
        std::string url, text;
        const char* message;
        const char* focus;
    } cases[] = {
        {"www.example.com/", "Welcome", kUrlMessage, "urlEdit"},
        {"", "Welcome", kUrlMessage, "urlEdit"},
        {server.url("/"), "", kTextMessage, "searchTextEdit"},
    };
    for (const auto& c : cases) {
        AddSite a(c.url, c.text);
        a.Button("okButton")->click();
        ASSERT_EQ(a.messages.All().size(), 1u) << c.url;
        EXPECT_EQ(a.messages.All()[0].text, c.message);
        EXPECT_EQ(a.messages.All()[0].icon, Icon::Stop);
        EXPECT_EQ(a.dialog.focusWidget(), a.Edit(c.focus));
        EXPECT_TRUE(a.dialog.isVisible());
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(CAddSiteDlg, TheTestFetchDecidesWhetherToAskAndTheAnswerWhetherToClose)
{
    ScriptedHttpServer server;
    server.SetResponse("/shop",
                       ScriptedHttpServer::Response(200, "OK", {}, "<h1>Shop Open</h1>\n"));
    server.SetResponse("/gone", ScriptedHttpServer::Response(404, "Not Found", {},
                                                             "<h1>Shop Open</h1> is not here\n"));
    server.SetResponse("/fish", ScriptedHttpServer::Response(200, "OK", {"Content-Type: text/html"},
                                                             "<p>Fish &amp; Chips</p>\n"));
    const std::string shop = server.url("/shop");
    const std::string capitals = "HTTP" + shop.substr(4);
    const struct
    {
        std::string url, text;
        bool asked;
        Answer answer;
        bool accepted;
        std::string why = ""; // after the address, for a page that did not come whole
    } cases[] = {
        {shop, "Shop Open", false, Answer::Ok, true},
        {shop, " ", false, Answer::Ok, true},
        {shop, "shop open", true, Answer::No, false}, // capitals count
        {shop, "Closed", true, Answer::Yes, true},
        // The scheme's letter case does not matter to the fetcher either.
        {capitals, "Shop Open", false, Answer::Ok, true},
        // Passes the check but names no page the fetcher can get.
        {"ftp://127.0.0.1/http", "Shop Open", true, Answer::No, false, " (address not usable)"},
        // Judged as a pass judges: an error page is not the site, and the
        // page is also read as a browser shows it.
        {server.url("/gone"), "Shop Open", true, Answer::No, false, " (HTTP 404 Not Found)"},
        {server.url("/fish"), "Fish & Chips", false, Answer::Ok, true},
    };
    for (const auto& c : cases) {
        AddSite a(c.url, c.text, "alerts@example.org");
        a.messages.Answer(c.answer);
        a.Button("okButton")->click();
        if (c.asked) {
            ASSERT_EQ(a.messages.All().size(), 1u) << c.url << " " << c.text;
            EXPECT_EQ(a.messages.All()[0].text,
                      "The search text \"" + c.text + "\" was not found in the page at " + c.url +
                          c.why +
                          "\n\nDo you want to continue adding this site with the supplied "
                          "search text?");
            EXPECT_EQ(a.messages.All()[0].icon, Icon::Question);
        } else {
            EXPECT_TRUE(a.messages.All().empty()) << c.text;
        }
        EXPECT_EQ(a.dialog.isVisible(), !c.accepted) << c.url << " " << c.text;
        if (c.accepted) {
            EXPECT_EQ(a.dialog.result(), QDialog::Accepted);
        } else {
            // Kept open after No: the keyboard is in the text to mend.
            EXPECT_EQ(a.dialog.focusWidget(), a.Edit("searchTextEdit")) << c.text;
        }
        EXPECT_EQ(a.dialog.m_URL, c.url);
        EXPECT_EQ(a.dialog.m_SearchText, c.text);
        EXPECT_EQ(a.dialog.m_Email, "alerts@example.org");
    }
}

TEST(CAddSiteDlg, CancelDuringTheTestFetchStopsItAndClosesWithTheCancelResult)
{
    ScriptedHttpServer server;
    ScriptedHttpServer::Script slow;
    slow.steps = {{"HTTP/1.0 200 OK\r\n\r\n<p>", {}}};
    slow.endless = true;
    slow.endlessChunk = ".";
    slow.endlessPause = std::chrono::milliseconds(50);
    server.SetScript("/slow", slow);
    AddSite a(server.url("/slow"), "never there");
    EventLoopWaiter::Install(); // the desktop's: the dialog's own events go on meanwhile

    bool sawChecking = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (server.RequestCount() == 0)
            return;
        user.stop();
        sawChecking = a.dialog.IsChecking();
        a.Button("okButton")->click(); // does nothing more
        a.dialog.OnOK();
        a.Button("cancelButton")->click();
    });
    user.start(5);
    a.Button("okButton")->click(); // returns once the fetch has ended
    EXPECT_TRUE(sawChecking);
    EXPECT_FALSE(a.dialog.IsChecking());
    EXPECT_FALSE(a.dialog.isVisible());
    EXPECT_EQ(a.dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(a.messages.All().empty());
    EXPECT_EQ(server.RequestCount(), 1u);
    FetchWaiter::SetFactory({});
}

} // namespace
