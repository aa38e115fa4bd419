#pragma once

#include <string>

// A page's text as a browser shows it, for a search text that a user copied
// from the browser window: the page's bytes read in the page's charset and
// turned into UTF-8, then its character references ("&amp;", "&eacute;",
// "&#233;", "&#xE9;") replaced by the characters they stand for. Tags stay.
class BrowserText
{
public:
    // `contentType` is the answer's Content-Type header value (may be empty).
    static std::string Of(const std::string& page, const std::string& contentType);

    // The charset the header names, else the one a <meta> element near the
    // page's start names; lower case, empty when neither does.
    static std::string Charset(const std::string& page, const std::string& contentType);

    // The text with its character references decoded; the rest unchanged.
    static std::string DecodeReferences(const std::string& text);

    // The text from `charset` to UTF-8; bytes that do not belong to the charset
    // become U+FFFD. An unknown charset or UTF-8 itself: the text unchanged.
    static std::string ToUtf8(const std::string& text, const std::string& charset);
};
