#pragma once

#include <ctime>
#include <string>

// The words of the notices that are no down-site alert: a site back up, and
// a certificate about to run out. Plain English, the same in the balloon, the
// e-mail, the list and the checker's report.
class NoticeText
{
public:
    // A span in whole units, the two largest that matter, cut (never
    // rounded) down: "45 seconds", "1 minute", "12 minutes",
    // "1 hour 5 minutes", "3 hours", "2 days 3 hours". Below 0 counts as 0.
    static std::string Length(long long seconds);

    // Days left until `expiry` from `now`, to the nearest whole day; below
    // 0 when it has passed by half a day or more.
    static long long DaysLeft(std::time_t expiry, std::time_t now);
    // Whether the certificate runs out `warnDays` days or fewer after `now`
    // (0: never warn).
    static bool ExpiresWithin(std::time_t expiry, std::time_t now, int warnDays);
    // "certificate expires in 6 days", "... in 1 day", "... within a day",
    // "certificate has expired".
    static std::string CertificateReason(std::time_t expiry, std::time_t now);

    // "SITE is back up (down for 12 minutes)"; with the outage's start not
    // known (0): "SITE is back up (down for an unknown time)".
    static std::string BackUp(const std::string& siteName, std::time_t start, std::time_t end);
};
