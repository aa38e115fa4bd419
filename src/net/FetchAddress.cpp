#include "net/FetchAddress.h"

#include "platform/AsciiText.h"

#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

bool IsUnsafeBeforeQuery(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F)
        return true;
    switch (c) {
    case '<':
    case '>':
    case '"':
    case '{':
    case '}':
    case '|':
    case '\\':
    case '^':
    case '`':
        return true;
    default:
        return false;
    }
}

// What libcurl's parser refuses in any part of an address.
bool IsRefusedByCurl(unsigned char c)
{
    return c <= 0x20 || c == 0x7F;
}

void AppendEncoded(std::string& out, unsigned char c)
{
    static const char hex[] = "0123456789ABCDEF";
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 0x0F];
}

// RFC 3986 section 5.2.4, on a path without query.
std::string RemoveDotSegments(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    const bool absolute = !path.empty() && path[0] == '/';
    if (absolute)
        start = 1;
    bool endsInDirectory = false;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const std::string segment =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        endsInDirectory = false;
        if (segment == ".") {
            endsInDirectory = true;
        } else if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            endsInDirectory = true;
        } else {
            segments.push_back(segment);
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    std::string result = absolute ? "/" : "";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (i > 0)
            result += '/';
        result += segments[i];
    }
    if (endsInDirectory && !result.empty() && result.back() != '/')
        result += '/';
    return result;
}

bool HasScheme(const std::string& reference)
{
    const auto colon = reference.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(reference[0])))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(reference[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
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

// The values of the fields named `name` (any letter case), in order.
std::vector<std::string> FieldValues(const std::string& rawHeaders, std::string_view name)
{
    std::vector<std::string> values;
    for (const std::string& line : FieldLines(rawHeaders)) {
        const auto colon = line.find(':');
        if (colon != std::string::npos &&
            AsciiText::EqualNoCase(std::string_view(line).substr(0, colon), name))
            values.push_back(line.substr(colon + 1));
    }
    return values;
}

} // namespace

std::string FetchAddress::FullAddress(const std::string& address)
{
    // Blanks around the address (from a paste, say) are not part of it.
    const auto first = address.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos)
        return "http://";
    const auto last = address.find_last_not_of(" \t\r\n\v\f");
    const std::string trimmed = address.substr(first, last - first + 1);
    const std::string lower = AsciiText::Lower(trimmed);
    if (lower.find("http://") != std::string::npos || lower.find("https://") != std::string::npos)
        return trimmed;
    return "http://" + trimmed;
}

std::string FetchAddress::Canonicalize(const std::string& address)
{
    std::string out;
    out.reserve(address.size());
    bool inQuery = false;
    for (const char ch : address) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (ch == '?' || ch == '#')
            inQuery = true;
        if (inQuery ? IsRefusedByCurl(c) : IsUnsafeBeforeQuery(c))
            AppendEncoded(out, c);
        else
            out += ch;
    }
    return out;
}

std::optional<FetchAddress::Parts> FetchAddress::Split(const std::string& address)
{
    const auto schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos)
        return std::nullopt;
    Parts parts;
    parts.scheme = AsciiText::Lower(address.substr(0, schemeEnd));
    if (parts.scheme != "http" && parts.scheme != "https")
        return std::nullopt;

    const auto authorityStart = schemeEnd + 3;
    const auto authorityEnd = address.find_first_of("/?#", authorityStart);
    std::string authority = address.substr(authorityStart, authorityEnd == std::string::npos
                                                               ? std::string::npos
                                                               : authorityEnd - authorityStart);
    if (const auto at = authority.rfind('@'); at != std::string::npos)
        authority.erase(0, at + 1);

    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        parts.server = authority.substr(0, close + 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return std::nullopt;
            portText = rest.substr(1);
            if (portText.empty())
                return std::nullopt;
        }
    } else if (const auto colon = authority.find(':'); colon != std::string::npos) {
        parts.server = authority.substr(0, colon);
        portText = authority.substr(colon + 1);
        if (portText.empty())
            return std::nullopt;
    } else {
        parts.server = authority;
    }
    if (parts.server.empty() || parts.server == "[]")
        return std::nullopt;

    if (portText.empty()) {
        parts.port = parts.secure() ? 443 : 80;
    } else {
        if (portText.size() > 5)
            return std::nullopt;
        unsigned long port = 0;
        for (const char c : portText) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535)
            return std::nullopt;
        parts.port = static_cast<std::uint16_t>(port);
    }

    std::string rest = authorityEnd == std::string::npos ? "" : address.substr(authorityEnd);
    if (const auto hash = rest.find('#'); hash != std::string::npos)
        rest.erase(hash);
    if (rest.empty() || rest[0] != '/')
        rest.insert(0, "/");
    parts.objectPath = rest;
    return parts;
}

std::string FetchAddress::ToUrl(const Parts& parts)
{
    return parts.scheme + "://" + parts.server + ":" + std::to_string(parts.port) +
           parts.objectPath;
}

std::string FetchAddress::Resolve(const Parts& base, const std::string& reference)
{
    if (HasScheme(reference))
        return Canonicalize(reference);
    const std::string origin = base.scheme + "://" + base.server + ":" + std::to_string(base.port);
    if (reference.rfind("//", 0) == 0)
        return Canonicalize(base.scheme + ":" + reference);

    std::string reference_ = reference;
    if (const auto hash = reference_.find('#'); hash != std::string::npos)
        reference_.erase(hash);

    const auto baseQuery = base.objectPath.find('?');
    const std::string basePath = base.objectPath.substr(0, baseQuery);
    if (reference_.empty())
        return Canonicalize(origin + base.objectPath);
    if (reference_[0] == '?')
        return Canonicalize(origin + basePath + reference_);

    const auto query = reference_.find('?');
    std::string path = reference_.substr(0, query);
    const std::string queryText = query == std::string::npos ? "" : reference_.substr(query);
    if (path[0] != '/')
        path = basePath.substr(0, basePath.rfind('/') + 1) + path;
    return Canonicalize(origin + RemoveDotSegments(path) + queryText);
}

std::optional<std::string> FetchAddress::FindLocation(const std::string& rawHeaders)
{
    const auto values = FieldValues(rawHeaders, "location");
    if (values.empty())
        return std::nullopt;
    const std::string& value = values.front();
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::nullopt;
    const auto last = value.find_last_not_of(" \t");
    return value.substr(first, last - first + 1);
}

std::vector<std::string> FetchAddress::AuthSchemes(const std::string& rawHeaders)
{
    std::vector<std::string> schemes;
    for (const std::string& value : FieldValues(rawHeaders, "www-authenticate")) {
        // A challenge starts with its scheme, a token without "="; the
        // parameters after it ("realm=..., nonce=...") all hold one. So a
        // scheme is the first word of the value or of a comma-separated part
        // when no "=" follows inside that word.
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
                schemes.push_back(AsciiText::Lower(word));
        }
    }
    return schemes;
}

std::string FetchAddress::AuthRealm(const std::string& rawHeaders)
{
    const auto values = FieldValues(rawHeaders, "www-authenticate");
    if (values.empty())
        return {};
    const std::string& value = values.front();
    const std::size_t at = AsciiText::Lower(value).find("realm=");
    if (at == std::string::npos)
        return {};
    std::size_t i = at + 6;
    std::string realm;
    if (i < value.size() && value[i] == '"') {
        for (++i; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size())
                ++i;
            realm += value[i];
        }
    } else {
        while (i < value.size() && value[i] != ',' && value[i] != ' ')
            realm += value[i++];
    }
    return realm;
}

namespace {

// Where the user information of an address lies: from after "://" up to
// its last "@" before the path. Nothing when the address has none.
std::optional<std::pair<std::size_t, std::size_t>> UserInfoSpan(const std::string& address)
{
    const auto schemeEnd = address.find("://");
    if (schemeEnd == std::string::npos)
        return std::nullopt;
    const auto start = schemeEnd + 3;
    const auto end = address.find_first_of("/?#", start);
    const auto at = address.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at == std::string::npos || at < start)
        return std::nullopt;
    return std::pair{start, at};
}

std::string PercentDecoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() &&
            std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::optional<FetchAddress::Credentials> FetchAddress::UserInfo(const std::string& address)
{
    const auto span = UserInfoSpan(address);
    if (!span)
        return std::nullopt;
    const std::string info = address.substr(span->first, span->second - span->first);
    const auto colon = info.find(':');
    Credentials credentials{PercentDecoded(info.substr(0, colon)),
                            colon == std::string::npos ? ""
                                                       : PercentDecoded(info.substr(colon + 1))};
    if (credentials.user.empty())
        return std::nullopt;
    return credentials;
}

std::string FetchAddress::Shown(const std::string& address)
{
    const auto span = UserInfoSpan(address);
    if (!span)
        return address;
    const auto colon = address.find(':', span->first);
    if (colon == std::string::npos || colon > span->second)
        return address;
    return address.substr(0, colon) + address.substr(span->second);
}
