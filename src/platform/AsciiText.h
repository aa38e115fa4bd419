#pragma once

#include <string>
#include <string_view>

// Letter case of protocol text (schemes, header names, HTML tags): only
// A-Z and a-z count, whatever the process locale, so that a Turkish or any
// other locale cannot change what a header or a scheme means.
class AsciiText
{
public:
    static std::string Lower(std::string_view text);
    static bool EqualNoCase(std::string_view a, std::string_view b);
};
