#pragma once

#include <cstddef>
#include <string_view>

// How the program counts and cuts text. Text is UTF-8 throughout; files that
// came from the Windows build may hold single-byte ANSI text instead, which
// is not valid UTF-8. Every length rule of the program (the data file's
// short-field rules, the alert recipient rule, the settings' minimum
// lengths) counts through CharacterCount, so they all agree on what "three
// characters" means.
class Utf8Text
{
public:
    // One for each well-formed UTF-8 sequence and one for each byte that is
    // not part of one, so ANSI text counts its bytes.
    static std::size_t CharacterCount(std::string_view text);

    // The longest start of `text` of at most `maxBytes` bytes that does not
    // end inside a well-formed UTF-8 sequence.
    static std::string_view CutToBytes(std::string_view text, std::size_t maxBytes);

    // The length of the well-formed UTF-8 sequence at the start of `text`,
    // or 0 when it does not start with one (empty text included).
    static std::size_t SequenceLength(std::string_view text);
};
