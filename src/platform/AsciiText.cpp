#include "platform/AsciiText.h"

namespace {

char LowerChar(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string AsciiText::Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = LowerChar(c);
    return lower;
}

bool AsciiText::EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    }
    return true;
}
