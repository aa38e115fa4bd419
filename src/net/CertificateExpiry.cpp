#include "net/CertificateExpiry.h"

#include "net/FetchAddress.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace {

struct Fields
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

bool Digits(const std::string& text, std::size_t from, std::size_t count, int& out)
{
    if (from + count > text.size())
        return false;
    out = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::optional<std::time_t> ToTime(const Fields& f)
{
    // A leap second (":60") is read as the second after.
    if (f.year < 1950 || f.year > 9999 || f.month < 1 || f.month > 12 || f.day < 1 ||
        f.day > DaysInMonth(f.year, f.month) || f.hour > 23 || f.minute > 59 || f.second > 60)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = f.year - 1900;
    tm.tm_mon = f.month - 1;
    tm.tm_mday = f.day;
    tm.tm_hour = f.hour;
    tm.tm_min = f.minute;
    tm.tm_sec = f.second;
    return timegm(&tm);
}

// What may stand after the seconds: a fraction, then nothing, "Z", "GMT" or "UTC".
bool UtcEnd(const std::string& text, std::size_t at)
{
    if (at < text.size() && text[at] == '.') {
        ++at;
        const std::size_t digits = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
        if (at == digits)
            return false;
    }
    const std::string rest = text.substr(at);
    return rest.empty() || rest == "Z" || rest == " GMT" || rest == " UTC" || rest == "GMT" ||
           rest == " Z";
}

bool Clock(const std::string& text, std::size_t at, Fields& f)
{
    return at + 8 <= text.size() && Digits(text, at, 2, f.hour) && text[at + 2] == ':' &&
           Digits(text, at + 3, 2, f.minute) && text[at + 5] == ':' &&
           Digits(text, at + 6, 2, f.second);
}

// "Mar  3 12:00:00 2027 GMT", the day with one or two digits.
std::optional<std::time_t> OpenSslForm(const std::string& text)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() < 20)
        return std::nullopt;
    Fields f;
    for (int m = 0; m < 12; ++m)
        if (text.compare(0, 3, kMonths[m]) == 0)
            f.month = m + 1;
    if (f.month == 0 || text[3] != ' ')
        return std::nullopt;
    std::size_t at = 4;
    while (at < text.size() && text[at] == ' ')
        ++at;
    const std::size_t dayStart = at;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
        ++at;
    if (at == dayStart || at - dayStart > 2 || !Digits(text, dayStart, at - dayStart, f.day) ||
        at >= text.size() || text[at] != ' ' || !Clock(text, at + 1, f))
        return std::nullopt;
    at += 9;
    // The fraction stands before the year here.
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])))
            ++at;
    }
    if (at >= text.size() || text[at] != ' ' || !Digits(text, at + 1, 4, f.year) ||
        !UtcEnd(text, at + 5))
        return std::nullopt;
    return ToTime(f);
}

// "2027-03-03 12:00:00 GMT" or "2027-03-03T12:00:00Z".
std::optional<std::time_t> IsoForm(const std::string& text)
{
    Fields f;
    if (!Digits(text, 0, 4, f.year) || text.size() < 19 || text[4] != '-' ||
        !Digits(text, 5, 2, f.month) || text[7] != '-' || !Digits(text, 8, 2, f.day) ||
        (text[10] != ' ' && text[10] != 'T') || !Clock(text, 11, f) || !UtcEnd(text, 19))
        return std::nullopt;
    return ToTime(f);
}

// "20270303120000Z" (GeneralizedTime) or "270303120000Z" (UTCTime, years
// 50 to 99 being 1950 to 1999).
std::optional<std::time_t> Asn1Form(const std::string& text)
{
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    Fields f;
    std::size_t at = 0;
    if (digits == 14) {
        Digits(text, 0, 4, f.year);
        at = 4;
    } else if (digits == 12) {
        Digits(text, 0, 2, f.year);
        f.year += f.year < 50 ? 2000 : 1900;
        at = 2;
    } else {
        return std::nullopt;
    }
    Digits(text, at, 2, f.month);
    Digits(text, at + 2, 2, f.day);
    Digits(text, at + 4, 2, f.hour);
    Digits(text, at + 6, 2, f.minute);
    Digits(text, at + 8, 2, f.second);
    // Without its "Z" such a time would be the server's local time.
    if (text.size() == digits || !UtcEnd(text, at + 10))
        return std::nullopt;
    return ToTime(f);
}

struct Memory
{
    std::mutex mutex;
    std::unordered_map<std::string, std::time_t> expiries;
    std::deque<std::string> order; // oldest first
};

Memory& TheMemory()
{
    static Memory* memory = new Memory; // used by transfers until the very end
    return *memory;
}

} // namespace

std::optional<std::time_t> CertificateExpiry::Parse(const std::string& raw)
{
    const std::size_t first = raw.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::nullopt;
    const std::string text = raw.substr(first, raw.find_last_not_of(" \t\r\n") - first + 1);
    if (auto t = OpenSslForm(text))
        return t;
    if (auto t = IsoForm(text))
        return t;
    return Asn1Form(text);
}

std::string CertificateExpiry::ServerOf(const std::string& url)
{
    const auto parts = FetchAddress::Split(url);
    if (!parts || !parts->secure())
        return {};
    std::string server = parts->server;
    std::transform(server.begin(), server.end(), server.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return "https://" + server + ":" + std::to_string(parts->port);
}

void CertificateExpiry::Remember(const std::string& server, std::time_t expiry)
{
    if (server.empty() || expiry == 0)
        return;
    Memory& memory = TheMemory();
    std::lock_guard lock(memory.mutex);
    const auto [it, added] = memory.expiries.insert_or_assign(server, expiry);
    (void)it;
    if (!added)
        return;
    memory.order.push_back(server);
    if (memory.order.size() > kRemembered) {
        memory.expiries.erase(memory.order.front());
        memory.order.pop_front();
    }
}

std::time_t CertificateExpiry::Recall(const std::string& server)
{
    Memory& memory = TheMemory();
    std::lock_guard lock(memory.mutex);
    const auto it = memory.expiries.find(server);
    return it == memory.expiries.end() ? 0 : it->second;
}
