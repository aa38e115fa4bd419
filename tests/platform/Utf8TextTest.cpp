#include "platform/Utf8Text.h"

#include <gtest/gtest.h>

TEST(Utf8Text, CountsCharactersAndStrayBytesAlike)
{
    EXPECT_EQ(Utf8Text::CharacterCount(""), 0u);
    EXPECT_EQ(Utf8Text::CharacterCount("abc"), 3u);
    EXPECT_EQ(Utf8Text::CharacterCount("\xC3\xA9t\xC3\xA9"), 3u); // été
    EXPECT_EQ(Utf8Text::CharacterCount("\xF0\x9F\x90\xA6"), 1u);  // a bird
    EXPECT_EQ(Utf8Text::CharacterCount("\xE9t\xE9"), 3u);         // été in Latin-1
    EXPECT_EQ(Utf8Text::CharacterCount("\x80\x80"), 2u);          // lone continuations
    EXPECT_EQ(Utf8Text::CharacterCount("\xC0\xAF"), 2u);          // overlong
    EXPECT_EQ(Utf8Text::CharacterCount("\xE2\x82"), 2u);          // cut short
}

TEST(Utf8Text, CutNeverSplitsACharacter)
{
    EXPECT_EQ(Utf8Text::CutToBytes("abcdef", 4), "abcd");
    EXPECT_EQ(Utf8Text::CutToBytes("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(Utf8Text::CutToBytes("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(Utf8Text::CutToBytes("a\xF0\x9F\x90\xA6", 4), "a");
    EXPECT_EQ(Utf8Text::CutToBytes("ab\xE9", 3), "ab\xE9"); // a stray byte is a character
    EXPECT_EQ(Utf8Text::CutToBytes("abc", 0), "");
}
