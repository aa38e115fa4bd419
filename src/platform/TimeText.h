#pragma once

#include <ctime>
#include <string>

// Time stamps of this program are always English with "AM"/"PM", whatever
// locale the process runs in (Qt switches the C library to the user's locale
// when its application object is made), so they are formatted against a
// private "C" locale and never the process one.
class TimeText
{
public:
    // The stamp shown in Last Check, the next-check label and alert bodies.
    static constexpr const char* kStampFormat = "%m/%d/%Y %I:%M:%S %p";

    // `when` in local time, formatted with strftime's `format`.
    static std::string Local(std::time_t when, const char* format = kStampFormat);

    // `when` in UTC, formatted with strftime's `format`.
    static std::string Utc(std::time_t when, const char* format);
};
