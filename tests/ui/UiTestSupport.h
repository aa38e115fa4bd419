#pragma once

#include "monitor/SiteEntry.h"
#include "support/TestSites.h"

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace uitest {

inline SiteEntry Site(const std::string& url, const std::string& searchText = "",
                      const std::string& response = "-", int mark = 0)
{
    SiteEntry e = testsites::Site(url, searchText);
    e.field(SiteEntry::LastResponse) = response;
    e.mark = mark;
    return e;
}

using testsites::Page;

// Runs the event loop until `done` holds, testing it after every event;
// gives up after a minute so a broken build fails instead of hanging.
inline bool RunUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer check;
    bool gaveUp = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(60000, &loop, [&] {
        gaveUp = true;
        loop.quit();
    });
    if (done())
        return true;
    check.start(5);
    loop.exec();
    return !gaveUp && done();
}

// Start-up of the main window, then the first pass's end. All passes of a
// process share one gate: a pass still running would take the next
// window's request as its own.
template <class Window> void StartAndCheck(Window& window)
{
    bool ended = false;
    QObject listening;
    QObject::connect(&window, &Window::PassEnded, &listening, [&](bool) { ended = true; });
    window.OnInitDialog();
    ASSERT_TRUE(RunUntil([&] { return ended; }));
}

} // namespace uitest
