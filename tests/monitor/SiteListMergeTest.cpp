#include "monitor/SiteListMerge.h"

#include "monitor/DataFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

SiteEntry Entry(const std::string& url, const std::string& status = "-",
                const std::string& email = "")
{
    SiteEntry e;
    e.fields = {url, status, "-", "text", "-", email};
    return e;
}

std::vector<std::string> Urls(const std::vector<SiteEntry>& entries)
{
    std::vector<std::string> urls;
    for (const SiteEntry& e : entries)
        urls.push_back(e.field(SiteEntry::Url) + "=" + e.field(SiteEntry::Status));
    return urls;
}

// An entry must be known again after a save and a load, or a program would
// take its own entries for another's.
TEST(SiteListMerge, AnEntryKeepsItsKeyThroughTheFile)
{
    TempDir dir;
    const std::vector<SiteEntry> written = {
        Entry("http://a.test/\nsecond line", "OK", "a@x.test\nb"),
        Entry("http://b.test/", "OK", "abc"), // read back without the address
        Entry("http://c.test/ \r", "OK", "\xC3\xA9t\xC3\xA9@x"),
    };
    ASSERT_TRUE(DataFile::SaveEntries(written, dir.file("list.dat")));
    std::vector<SiteEntry> read;
    ASSERT_TRUE(DataFile::ReadEntries(dir.file("list.dat"), read));
    EXPECT_EQ(SiteListMerge::Keys(read), SiteListMerge::Keys(written));
}

TEST(SiteListMerge, EqualEntriesCountOneByOne)
{
    // Someone else removed one of two equal entries and added a third.
    const std::vector<std::string> base =
        SiteListMerge::Keys({Entry("http://a/"), Entry("http://a/")});
    SiteListMerge::Changes changes =
        SiteListMerge::Between(base, {Entry("http://a/", "OK"), Entry("http://b/")});
    EXPECT_EQ(Urls(changes.added), std::vector<std::string>{"http://b/=-"});
    ASSERT_EQ(changes.removed.size(), 1u);

    std::vector<SiteEntry> ours = {Entry("http://a/", "1"), Entry("http://x/"),
                                   Entry("http://a/", "2")};
    SiteListMerge::Apply(changes, ours);
    EXPECT_EQ(Urls(ours), (std::vector<std::string>{"http://x/=-", "http://a/=2", "http://b/=-"}));

    // The checker's outcomes go to the n-th equal entry of the file as it is.
    std::vector<SiteEntry> theirs = {Entry("http://new/"), Entry("http://a/"), Entry("http://a/")};
    SiteListMerge::TakeOutcomes(
        {Entry("http://a/", "OK"), Entry("http://gone/", "OK"), Entry("http://a/", "ERROR")},
        theirs);
    EXPECT_EQ(Urls(theirs),
              (std::vector<std::string>{"http://new/=-", "http://a/=OK", "http://a/=ERROR"}));
}

} // namespace
