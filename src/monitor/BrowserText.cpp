#include "monitor/BrowserText.h"

#include "platform/AsciiText.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

// How far into the page a browser looks for a <meta> charset.
constexpr std::size_t kMetaScan = 4096;

void AppendUtf8(std::string& out, unsigned long cp)
{
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The names of U+00A1 to U+00FF, in order.
constexpr std::array<const char*, 95> kLatin1 = {
    "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",
    "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",
    "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",
    "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute",
    "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",
    "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",  "szlig",
    "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil", "egrave",
    "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",    "ntilde",
    "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave", "uacute",
    "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct Named
{
    const char* name;
    unsigned long cp;
};

// The names pages use most besides Latin-1's. A no-break space counts as a
// space: it looks like one, and that is what a user types for it.
constexpr Named kOther[] = {
    {"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},    {"apos", '\''},
    {"nbsp", ' '},    {"OElig", 338},   {"oelig", 339},   {"Scaron", 352},  {"scaron", 353},
    {"Yuml", 376},    {"fnof", 402},    {"circ", 710},    {"tilde", 732},   {"ensp", 8194},
    {"emsp", 8195},   {"thinsp", 8201}, {"zwnj", 8204},   {"zwj", 8205},    {"lrm", 8206},
    {"rlm", 8207},    {"ndash", 8211},  {"mdash", 8212},  {"lsquo", 8216},  {"rsquo", 8217},
    {"sbquo", 8218},  {"ldquo", 8220},  {"rdquo", 8221},  {"bdquo", 8222},  {"dagger", 8224},
    {"Dagger", 8225}, {"bull", 8226},   {"hellip", 8230}, {"permil", 8240}, {"prime", 8242},
    {"Prime", 8243},  {"lsaquo", 8249}, {"rsaquo", 8250}, {"euro", 8364},   {"trade", 8482},
    {"larr", 8592},   {"uarr", 8593},   {"rarr", 8594},   {"darr", 8595},   {"harr", 8596}};

long NamedCodePoint(std::string_view name)
{
    for (std::size_t i = 0; i < kLatin1.size(); ++i) {
        if (name == kLatin1[i])
            return static_cast<long>(0xA1 + i);
    }
    for (const Named& n : kOther) {
        if (name == n.name)
            return static_cast<long>(n.cp);
    }
    return -1;
}

// The value of a charset parameter at `at` ("=", blanks, an optional quote).
std::string CharsetValue(const std::string& text, std::size_t at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at >= text.size() || text[at] != '=')
        return {};
    ++at;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    if (at < text.size() && (text[at] == '"' || text[at] == '\''))
        ++at;
    std::string value;
    while (at < text.size() &&
           (std::isalnum(static_cast<unsigned char>(text[at])) || std::strchr("-_.:", text[at])))
        value += text[at++];
    return value;
}

} // namespace

std::string BrowserText::Charset(const std::string& page, const std::string& contentType)
{
    const std::string type = AsciiText::Lower(contentType);
    if (const auto at = type.find("charset"); at != std::string::npos) {
        if (std::string value = CharsetValue(type, at + 7); !value.empty())
            return value;
    }
    const std::string head = AsciiText::Lower(page.substr(0, kMetaScan));
    for (auto meta = head.find("<meta"); meta != std::string::npos;
         meta = head.find("<meta", meta + 5)) {
        const auto close = head.find('>', meta);
        const std::string tag =
            head.substr(meta, close == std::string::npos ? std::string::npos : close - meta);
        if (const auto at = tag.find("charset"); at != std::string::npos) {
            if (std::string value = CharsetValue(tag, at + 7); !value.empty())
                return value;
        }
    }
    return {};
}

std::string BrowserText::ToUtf8(const std::string& text, const std::string& charset)
{
    std::string from = AsciiText::Lower(charset);
    if (from.empty() || from == "utf-8" || from == "utf8")
        return text;
    // Browsers read these labels as windows-1252, which they extend.
    if (from == "iso-8859-1" || from == "latin1" || from == "us-ascii" || from == "ascii")
        from = "windows-1252";
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return text;
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* dst = buffer;
        std::size_t dstLeft = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<std::size_t>(dst - buffer));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // A byte the charset has no character for, or a sequence cut
            // short at the end: shown as a replacement character.
            AppendUtf8(out, 0xFFFD);
            ++in;
            --inLeft;
        }
    }
    iconv_close(cd);
    return out;
}

std::string BrowserText::DecodeReferences(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto amp = text.find('&', i);
        if (amp == std::string::npos) {
            out.append(text, i, std::string::npos);
            break;
        }
        out.append(text, i, amp - i);
        i = amp + 1;
        long cp = -1;
        std::size_t end = i;
        if (end < text.size() && text[end] == '#') {
            ++end;
            const bool hex = end < text.size() && (text[end] == 'x' || text[end] == 'X');
            if (hex)
                ++end;
            const std::size_t digits = end;
            unsigned long value = 0;
            while (end < text.size() &&
                   (hex ? std::isxdigit(static_cast<unsigned char>(text[end]))
                        : std::isdigit(static_cast<unsigned char>(text[end])))) {
                if (value <= 0x10FFFF)
                    value =
                        value * (hex ? 16 : 10) +
                        static_cast<unsigned long>(
                            std::isdigit(static_cast<unsigned char>(text[end]))
                                ? text[end] - '0'
                                : std::tolower(static_cast<unsigned char>(text[end])) - 'a' + 10);
                ++end;
            }
            if (end > digits) {
                cp = static_cast<long>(std::min<unsigned long>(value, 0x110000));
                if (end < text.size() && text[end] == ';')
                    ++end;
            }
        } else {
            while (end < text.size() && std::isalnum(static_cast<unsigned char>(text[end])) &&
                   end - i < 8)
                ++end;
            if (end < text.size() && text[end] == ';') {
                cp = NamedCodePoint(std::string_view(text).substr(i, end - i));
                ++end;
            }
        }
        if (cp < 0) {
            out += '&'; // not a reference: the ampersand stays as it is
            continue;
        }
        AppendUtf8(out, static_cast<unsigned long>(cp));
        i = end;
    }
    return out;
}

std::string BrowserText::Of(const std::string& page, const std::string& contentType)
{
    return DecodeReferences(ToUtf8(page, Charset(page, contentType)));
}
