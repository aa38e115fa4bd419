#include "platform/Utf8Text.h"

namespace {
bool Continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}
} // namespace

std::size_t Utf8Text::SequenceLength(std::string_view text)
{
    if (text.empty())
        return 0;
    const auto b0 = static_cast<unsigned char>(text[0]);
    if (b0 < 0x80)
        return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0; // no overlong forms
        if (b0 == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;
        if (b0 == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < len)
        return 0;
    const auto b1 = static_cast<unsigned char>(text[1]);
    if (b1 < lo || b1 > hi)
        return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (!Continuation(static_cast<unsigned char>(text[i])))
            return 0;
    return len;
}

std::size_t Utf8Text::CharacterCount(std::string_view text)
{
    std::size_t count = 0;
    while (!text.empty()) {
        const std::size_t len = SequenceLength(text);
        text.remove_prefix(len == 0 ? 1 : len);
        ++count;
    }
    return count;
}

std::string_view Utf8Text::CutToBytes(std::string_view text, std::size_t maxBytes)
{
    std::size_t end = 0;
    while (end < text.size()) {
        std::size_t len = SequenceLength(text.substr(end));
        if (len == 0)
            len = 1;
        if (end + len > maxBytes)
            break;
        end += len;
    }
    return text.substr(0, end);
}
