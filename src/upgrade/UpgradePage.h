#pragma once

#include <list>
#include <string>
#include <string_view>

// What the maker's upgrade page announces: the newest version, what is new
// in it and where its installer is. The page is read as the fetcher's text
// pieces, one line each with its line feed; the values stand on lines of
// their own after marker lines inside HTML comments.
//
// The upgrade dialog keeps one of these for the whole run, and a later page
// that lacks a marker leaves that value as an earlier page set it.
class UpgradePage
{
public:
    static constexpr std::string_view kVersionMarker = "<!-- UPGRADE Version";
    static constexpr std::string_view kDescriptionMarker = "<!-- UPGRADE Description";
    static constexpr std::string_view kDescriptionEnd = "END UPGRADE Description";
    static constexpr std::string_view kDownloadLinkMarker = "<!-- UPGRADE Download Link";

    // Empties the description, then walks the lines once. A value line is
    // taken as the value and never looked at for markers; a marker seen
    // again replaces the version or link and appends to the description.
    // A marker on the last line, or a description that never ends, ends the
    // walk with what was found.
    void ParseUpgradePage(const std::list<std::string>& lines);

    // The number at the start of `text` as atof reads it, in decimal only
    // and whatever the process locale: white space skipped, a sign, digits
    // with a decimal point and an exponent; 0 when there is no number.
    static double ReadNumber(std::string_view text);

    float m_fPageVersion = 0.0f;
    std::string m_strDescription;
    // Without the line feed the page gave it.
    std::string m_strDownloadLink;
};
