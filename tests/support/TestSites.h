#pragma once

#include "monitor/SiteEntry.h"
#include "support/ScriptedHttpServer.h"

#include <string>

// The site entries and pages the tests of passes and windows are made of.
namespace testsites {

// A site as the user adds it: never checked.
inline SiteEntry Site(const std::string& url, const std::string& searchText = "",
                      const std::string& status = "-")
{
    SiteEntry e;
    e.field(SiteEntry::Url) = url;
    e.field(SiteEntry::Status) = status;
    e.field(SiteEntry::LastCheck) = "-";
    e.field(SiteEntry::SearchText) = searchText;
    e.field(SiteEntry::LastResponse) = "-";
    return e;
}

// A healthy page: 200 with this HTML.
inline std::string Page(const std::string& body)
{
    return ScriptedHttpServer::Response(200, "OK", {"Content-Type: text/html"}, body);
}

} // namespace testsites
