#include "net/PageTransfer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::string> Split(const std::string& body, std::size_t feedSize)
{
    PageTransfer::Page page;
    for (std::size_t at = 0; at < body.size(); at += feedSize)
        page.Add(body.data() + at, std::min(feedSize, body.size() - at));
    page.End();
    return page.Pieces();
}

} // namespace

TEST(PageTransfer, CutsLinesDropsCrAndEndsAPieceAtItsFirstNul)
{
    using V = std::vector<std::string>;
    const struct
    {
        std::string body;
        V pieces;
    } cases[] = {
        {"a\r\nb\r\n", V{"a\n", "b\n"}},
        {"x\ry", V{"xy"}},
        {"", V{}},
        {"\r", V{""}},
        {"no end", V{"no end"}},
        {std::string("ab\0cd\nef", 8), V{"ab", "ef"}},
        {"a\rb\rc\r\n", V{"abc\n"}},
        {std::string("\0\r\n\0x", 5), V{"", ""}},
        {std::string(1022, 'a') + "b", V{std::string(1022, 'a'), "b"}},
        // CR counts against the limit although it is dropped.
        {std::string(1021, 'a') + "\r\n", V{std::string(1021, 'a'), "\n"}},
        {std::string(1021, 'a') + "\n", V{std::string(1021, 'a') + "\n"}},
    };
    for (const auto& c : cases) {
        for (std::size_t feed : {std::size_t{1}, std::size_t{7}, std::size_t{4096}})
            EXPECT_EQ(Split(c.body, feed), c.pieces) << "feed " << feed;
    }
}

TEST(PageTransfer, LongLineWithoutBreaksComesInLimitSizedPieces)
{
    const std::string body(3000, 'z');
    const auto pieces = Split(body, 333);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 1022u);
    EXPECT_EQ(pieces[1].size(), 1022u);
    EXPECT_EQ(pieces[2].size(), 956u);
    EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], body);
}
