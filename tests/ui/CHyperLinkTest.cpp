#include "ui/CHyperLink.h"
#include "MessageRecorder.h"
#include "UiTestSupport.h"
#include "WidgetInput.h"
#include "support/TempDir.h"

#include <QApplication>

#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

const QString kUrl = "http://www.kestrelle.example/";

TEST(CHyperLink, LaunchCommandCutsTheExecLineAtItsFirstPlaceholder)
{
    const struct
    {
        QString exec;
        QStringList command;
    } cases[] = {
        {"firefox-esr %u", {"firefox-esr", kUrl}},
        {"/usr/bin/chromium --incognito %U", {"/usr/bin/chromium", "--incognito", kUrl}},
        // A quoted placeholder goes with its quotes and everything after it.
        {"\"/opt/My Browser/browser\" --new \"%u\" --tail %U",
         {"/opt/My Browser/browser", "--new", kUrl}},
        {"viewer %f --then %u", {"viewer", kUrl}},
        {"epiphany", {"epiphany", kUrl}},
        {"browser --zoom=100%% %F", {"browser", "--zoom=100%", kUrl}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CHyperLink::LaunchCommand(c.exec, kUrl), c.command) << c.exec.toStdString();
}

TEST(CHyperLink, ExecLineComesFromTheDesktopEntryGroupOnly)
{
    const QString entry = "[Desktop Action new-window]\nExec=other --window %u\n"
                          "[Desktop Entry]\nName=Web\nTryExec=web\nExec = web %u\n";
    EXPECT_EQ(CHyperLink::ExecLineOf(entry), "web %u");
    EXPECT_EQ(CHyperLink::ExecLineOf("[Desktop Entry]\nName=Web\n"), "");
}

TEST(CHyperLink, ClickOpensOnReleaseAndColoursFollowFocusAndVisit)
{
    std::vector<std::string> opened;
    CHyperLink::SetOpenerForTests([&](const std::string& url) {
        opened.push_back(url);
        return CHyperLink::kOpened;
    });
    QWidget window;
    auto* link = new CHyperLink(&window);
    link->setText(kUrl);
    auto* other = new QLabel("x", &window);
    other->setFocusPolicy(Qt::StrongFocus);
    other->move(0, 40);
    window.show();
    QApplication::setActiveWindow(&window);
    link->Bind();
    EXPECT_EQ(link->toolTip(), kUrl);
    EXPECT_EQ(link->width(), link->sizeHint().width());
    const auto colour = [&] { return link->palette().color(QPalette::WindowText); };
    EXPECT_EQ(colour(), QColor(0, 0, 255));

    WidgetInput::Release(link); // no press before: nothing
    EXPECT_TRUE(opened.empty());
    WidgetInput::Press(link);
    EXPECT_TRUE(opened.empty());
    WidgetInput::Release(link);
    EXPECT_EQ(opened, std::vector<std::string>{kUrl.toStdString()});
    EXPECT_EQ(colour(), QColor(0, 128, 128));
    WidgetInput::Key(link, Qt::Key_Space);
    EXPECT_EQ(opened.size(), 2u);
    other->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(colour(), QColor(128, 0, 128));
    CHyperLink::SetOpenerForTests({});
}

TEST(CHyperLink, AFailedOpeningSaysWhyAndLeavesTheLinkUnvisited)
{
    MessageRecorder messages;
    int code = CHyperLink::kFileNotFound;
    CHyperLink::SetOpenerForTests([&](const std::string&) { return code; });
    CHyperLink link;
    link.setText(kUrl);
    link.Bind();
    WidgetInput::Key(&link, Qt::Key_Space);
    code = 4;
    WidgetInput::Key(&link, Qt::Key_Space);
    ASSERT_EQ(messages.All().size(), 2u);
    EXPECT_EQ(messages.All()[0].text, "Can't open link:\n\nThe specified file was not found.");
    EXPECT_EQ(messages.All()[0].icon, UserMessage::Icon::Exclamation);
    EXPECT_EQ(messages.All()[1].text, "Can't open link:\n\nUnknown Error (4) occurred.");
    EXPECT_FALSE(link.IsVisited());
    CHyperLink::SetOpenerForTests({});
}

TEST(CHyperLink, XdgOpensAnswerDecidesBetweenVisitedAndTheReason)
{
    // A stand-in xdg-open on the PATH, answering as the real one does: 0
    // when a browser took the address, 3 when there is none. It never
    // starts anything.
    TempDir dir;
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
    ::setenv("PATH", (dir.path() + ":" + path).c_str(), 1);
    const auto answer = [&](int status) {
        std::ofstream(dir.path() + "/xdg-open") << "#!/bin/sh\nexit " << status << "\n";
        ::chmod((dir.path() + "/xdg-open").c_str(), 0755);
    };
    MessageRecorder messages;
    CHyperLink link;
    link.setText(kUrl);
    link.Bind();

    answer(3);
    WidgetInput::Key(&link, Qt::Key_Space);
    ASSERT_TRUE(uitest::RunUntil([&] { return !messages.All().empty(); }));
    EXPECT_EQ(messages.All()[0].text,
              "Can't open link:\n\nThere is no application associated\nwith the given filename "
              "extension.");
    EXPECT_FALSE(link.IsVisited());

    answer(0);
    WidgetInput::Key(&link, Qt::Key_Space);
    EXPECT_TRUE(uitest::RunUntil([&] { return link.IsVisited(); }));
    EXPECT_EQ(messages.All().size(), 1u);
    ::setenv("PATH", path.c_str(), 1);
}

} // namespace
