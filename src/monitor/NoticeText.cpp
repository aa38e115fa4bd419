#include "monitor/NoticeText.h"

namespace {

std::string Count(long long n, const char* unit)
{
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

constexpr long long kMinute = 60;
constexpr long long kHour = 60 * kMinute;
constexpr long long kDay = 24 * kHour;

} // namespace

std::string NoticeText::Length(long long seconds)
{
    if (seconds < 0)
        seconds = 0;
    if (seconds < kMinute)
        return Count(seconds, "second");
    if (seconds < kHour)
        return Count(seconds / kMinute, "minute");
    const auto pair = [](long long big, const char* bigUnit, long long small,
                         const char* smallUnit) {
        return small == 0 ? Count(big, bigUnit)
                          : Count(big, bigUnit) + " " + Count(small, smallUnit);
    };
    if (seconds < kDay)
        return pair(seconds / kHour, "hour", seconds % kHour / kMinute, "minute");
    return pair(seconds / kDay, "day", seconds % kDay / kHour, "hour");
}

long long NoticeText::DaysLeft(std::time_t expiry, std::time_t now)
{
    // To the nearest day: a certificate made for 5 days is "5 days" a
    // minute later, not 4.
    const long long left = static_cast<long long>(expiry) - static_cast<long long>(now);
    return left >= 0 ? (left + kDay / 2) / kDay : -((-left + kDay / 2) / kDay);
}

bool NoticeText::ExpiresWithin(std::time_t expiry, std::time_t now, int warnDays)
{
    return expiry != 0 && warnDays > 0 &&
           static_cast<long long>(expiry) - static_cast<long long>(now) <= warnDays * kDay;
}

std::string NoticeText::CertificateReason(std::time_t expiry, std::time_t now)
{
    if (expiry <= now)
        return "certificate has expired";
    const long long days = DaysLeft(expiry, now);
    if (days == 0)
        return "certificate expires within a day";
    return "certificate expires in " + Count(days, "day");
}

std::string NoticeText::BackUp(const std::string& siteName, std::time_t start, std::time_t end)
{
    return siteName + " is back up (down for " +
           (start == 0 ? std::string("an unknown time") : Length(end - start)) + ")";
}
