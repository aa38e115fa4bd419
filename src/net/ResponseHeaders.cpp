#include "net/ResponseHeaders.h"

#include <cctype>

std::optional<std::string> ResponseHeaders::FindLocation(const std::string& rawHeaders)
{
    static const std::string name = "location";
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
        const auto colon = line.find(':');
        if (colon != name.size())
            continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(line[i])) == name[i];
        if (!same)
            continue;
        auto first = line.find_first_not_of(" \t", colon + 1);
        if (first == std::string::npos)
            return std::nullopt;
        const auto last = line.find_last_not_of(" \t");
        return line.substr(first, last - first + 1);
    }
    return std::nullopt;
}
