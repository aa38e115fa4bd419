#include "platform/TimeText.h"

#include <clocale>
#include <locale.h>

namespace {

locale_t CLocale()
{
    // Made once and kept for the life of the process; newlocale of "C" does
    // not fail in practice, and the fallback keeps formatting possible.
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

std::string Format(const std::tm& tm, const char* format)
{
    char buf[512];
    const locale_t loc = CLocale();
    const size_t n = loc != static_cast<locale_t>(nullptr)
                         ? strftime_l(buf, sizeof buf, format, &tm, loc)
                         : std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

} // namespace

std::string TimeText::Local(std::time_t when, const char* format)
{
    std::tm tm{};
    localtime_r(&when, &tm);
    return Format(tm, format);
}

std::string TimeText::Utc(std::time_t when, const char* format)
{
    std::tm tm{};
    gmtime_r(&when, &tm);
    return Format(tm, format);
}
