#include "net/Base64Encode.h"

#include <gtest/gtest.h>

namespace {

TEST(Base64Encode, FollowsTheRfc4648Vectors)
{
    const struct
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"Username:", "VXNlcm5hbWU6"},
        {"Password:", "UGFzc3dvcmQ6"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Base64Encode(std::string(c.in)), c.out) << c.in;
}

TEST(Base64Encode, UsesTheWholeAlphabetAndKeepsEveryByte)
{
    // 0xFB 0xFF 0xBF gives "+/+/", the two characters past 0-9.
    const unsigned char high[] = {0xFB, 0xEF, 0xBE, 0x00, 0x00, 0x00, 0xFF};
    EXPECT_EQ(Base64Encode(high, sizeof high), "++++AAAA/w==");
    EXPECT_EQ(Base64Encode(std::string("\0a", 2)), "AGE=");
}

TEST(Base64Encode, TwentyCharacterUserNameGivesOneLineOf28)
{
    const std::string out = Base64Encode(std::string("alerts@kestrelle.tst"));
    EXPECT_EQ(out.size(), 28u);
    EXPECT_EQ(out.back(), '=');
    EXPECT_NE(out[26], '=');
    EXPECT_EQ(out.find('\n'), std::string::npos);
    // The longest accepted account text still fits 1,023 characters.
    EXPECT_EQ(Base64Encode(std::string(765, 'x')).size(), 1020u);
}

} // namespace
