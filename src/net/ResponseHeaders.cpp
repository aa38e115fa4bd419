#include "net/ResponseHeaders.h"

#include <cctype>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The header lines after the status line, without their line ends.
std::vector<std::string> FieldLines(const std::string& rawHeaders)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    bool statusLine = true;
    while (start < rawHeaders.size()) {
        auto end = rawHeaders.find('\n', start);
        if (end == std::string::npos)
            end = rawHeaders.size();
        std::string line = rawHeaders.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (statusLine) {
            statusLine = false;
            if (line.rfind("HTTP/", 0) == 0)
                continue;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace

std::optional<std::string> ResponseHeaders::FindLocation(const std::string& rawHeaders)
{
    static const std::string name = "location";
    for (const std::string& line : FieldLines(rawHeaders)) {
        const auto colon = line.find(':');
        if (colon != name.size() || Lower(line.substr(0, colon)) != name)
            continue;
        auto first = line.find_first_not_of(" \t", colon + 1);
        if (first == std::string::npos)
            return std::nullopt;
        const auto last = line.find_last_not_of(" \t");
        return line.substr(first, last - first + 1);
    }
    return std::nullopt;
}

std::vector<std::string> ResponseHeaders::AuthSchemes(const std::string& rawHeaders)
{
    static const std::string name = "www-authenticate";
    std::vector<std::string> schemes;
    for (const std::string& line : FieldLines(rawHeaders)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos || Lower(line.substr(0, colon)) != name)
            continue;
        // A challenge starts with its scheme, a token without "="; the
        // parameters after it ("realm=..., nonce=...") all hold one. So a
        // scheme is the first word of the value or of a comma-separated part
        // when no "=" follows inside that word.
        const std::string value = line.substr(colon + 1);
        std::size_t at = 0;
        while (at < value.size()) {
            auto next = value.find(',', at);
            if (next == std::string::npos)
                next = value.size();
            const std::string part = value.substr(at, next - at);
            at = next + 1;
            const auto first = part.find_first_not_of(" \t");
            if (first == std::string::npos)
                continue;
            const auto wordEnd = part.find_first_of(" \t", first);
            const std::string word = part.substr(
                first, wordEnd == std::string::npos ? std::string::npos : wordEnd - first);
            if (word.find('=') == std::string::npos && word.find('"') == std::string::npos)
                schemes.push_back(Lower(word));
        }
    }
    return schemes;
}
