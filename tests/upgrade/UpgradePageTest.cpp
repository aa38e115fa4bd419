#include "upgrade/UpgradePage.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

namespace {

const std::string kVersion = "<!-- UPGRADE Version -->\n";
const std::string kDescription = "<!-- UPGRADE Description -->\n";
const std::string kEnd = "<!-- END UPGRADE Description -->\n";
const std::string kLink = "<!-- UPGRADE Download Link -->\n";

} // namespace

TEST(UpgradePage, FindsTheValuesAfterTheirMarkers)
{
    const std::string longLine = " 2.25" + std::string(3000, 'x') + "\n";
    const struct
    {
        const char* what;
        std::list<std::string> lines;
        float version;
        std::string description;
        std::string link;
    } cases[] = {
        {"a whole page",
         {"<html>\n", kVersion, "1.01\n", kDescription, "Faster.\n", "Smaller.\n", kEnd, kLink,
          "https://maker.example/setup.sh\n", "</html>\n"},
         1.01f,
         "Faster.\nSmaller.\n",
         "https://maker.example/setup.sh"},
        {"a value line is never read for markers",
         {kLink, kVersion, "3.0\n", kVersion, kLink},
         0.0f,
         "",
         kVersion.substr(0, kVersion.size() - 1)},
        {"the version first when a line holds two markers",
         {"<!-- UPGRADE Version <!-- UPGRADE Download Link\n", "4\n", "x\n"},
         4.0f,
         "",
         "old"},
        {"description and its end on one line take nothing",
         {"<!-- UPGRADE Description --><!-- END UPGRADE Description -->\n", "not this\n"},
         0.0f,
         "",
         "old"},
        {"text after the number, and a long line",
         {kVersion, "1.5beta\n", kVersion, longLine},
         2.25f,
         "",
         "old"},
        {"the last version marker wins", {kVersion, "9\n", kVersion, "1.2\n"}, 1.2f, "", "old"},
        {"a second description is appended",
         {kDescription, "one\n", kEnd, kDescription, "two\n", kEnd},
         0.0f,
         "one\ntwo\n",
         "old"},
        {"a marker on the last line", {kLink, "x\n", kVersion}, 0.0f, "", "x"},
        {"a description that never ends", {kDescription, "a\n", "b"}, 0.0f, "a\nb", "old"},
    };
    for (const auto& c : cases) {
        UpgradePage page;
        page.m_strDownloadLink = "old";
        page.ParseUpgradePage(c.lines);
        EXPECT_EQ(page.m_fPageVersion, c.version) << c.what;
        EXPECT_EQ(page.m_strDescription, c.description) << c.what;
        EXPECT_EQ(page.m_strDownloadLink, c.link) << c.what;
    }
}

TEST(UpgradePage, PageWithoutMarkersKeepsVersionAndLinkButNotTheDescription)
{
    UpgradePage page;
    page.ParseUpgradePage({kVersion, "1.5\n", kDescription, "New.\n", kEnd, kLink, "https://x/\n"});
    page.ParseUpgradePage({"<html></html>\n"});
    EXPECT_EQ(page.m_fPageVersion, 1.5f);
    EXPECT_EQ(page.m_strDescription, "");
    EXPECT_EQ(page.m_strDownloadLink, "https://x/");
}

TEST(UpgradePage, ReadsNumbersAsAtofWithoutLocaleHexOrInfinity)
{
    // A decimal comma locale must not change the reading (when installed).
    const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
    const struct
    {
        const char* text;
        double value;
    } cases[] = {
        {"1.01", 1.01}, {" \t+2.5e1x", 25.0}, {"-3", -3.0}, {".5", 0.5},  {"5.", 5.0},  {"1e", 1.0},
        {"1e+", 1.0},   {"2E-1", 0.2},        {"1,5", 1.0}, {"abc", 0.0}, {".", 0.0},   {"+", 0.0},
        {"", 0.0},      {"0x10", 0.0},        {"inf", 0.0}, {"nan", 0.0}, {"\n7", 7.0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(UpgradePage::ReadNumber(c.text), c.value) << c.text;
    if (german)
        std::setlocale(LC_ALL, "C");

    SCOPED_TRACE("beyond single precision");
    UpgradePage page;
    page.ParseUpgradePage({kVersion, "1e39\n"});
    EXPECT_EQ(page.m_fPageVersion, std::numeric_limits<float>::infinity());
    page.ParseUpgradePage({kVersion, "1e-60\n"});
    EXPECT_EQ(page.m_fPageVersion, 0.0f);
}
