#pragma once

#include "monitor/SiteEntry.h"
#include "support/TestSites.h"

#include <QEventLoop>
#include <QTimer>

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

} // namespace uitest
