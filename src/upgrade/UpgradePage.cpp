#include "upgrade/UpgradePage.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace {

bool Contains(const std::string& line, std::string_view marker)
{
    return line.find(marker) != std::string::npos;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// White space as the C locale has it.
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string WithoutLineFeed(std::string line)
{
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

// A double beyond the float range does not convert (undefined behaviour):
// it becomes the infinity that single precision would round it to.
float ToFloat(double value)
{
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    if (std::fabs(value) > static_cast<double>(FLT_MAX))
        return value > 0 ? kInfinity : -kInfinity;
    return static_cast<float>(value);
}

} // namespace

double UpgradePage::ReadNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.')
        for (++i; i < text.size() && IsDigit(text[i]); ++i)
            ++digits;
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j]))
                ++j;
            i = j;
        }
    }
    // Only the characters checked above reach strtod, and in the C locale,
    // so a decimal comma locale, hexadecimal or "inf" cannot change the
    // reading; strtod still does the exact rounding and the overflow.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    const std::string number(text.substr(start, i - start));
    return strtod_l(number.c_str(), nullptr, cLocale);
}

void UpgradePage::ParseUpgradePage(const std::list<std::string>& lines)
{
    m_strDescription.clear();
    for (auto line = lines.begin(); line != lines.end(); ++line) {
        if (Contains(*line, kVersionMarker)) {
            if (++line == lines.end())
                break;
            m_fPageVersion = ToFloat(ReadNumber(*line));
        } else if (Contains(*line, kDescriptionMarker)) {
            if (Contains(*line, kDescriptionEnd))
                continue;
            for (++line; line != lines.end() && !Contains(*line, kDescriptionEnd); ++line)
                m_strDescription += *line;
            if (line == lines.end())
                break;
        } else if (Contains(*line, kDownloadLinkMarker)) {
            if (++line == lines.end())
                break;
            m_strDownloadLink = WithoutLineFeed(*line);
        }
    }
}
