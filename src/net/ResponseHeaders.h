#pragma once

#include <optional>
#include <string>
#include <vector>

// Reading the raw response head (status line and header lines, CR LF or LF
// separated) the way HTTP defines it.
class ResponseHeaders
{
public:
    // The value of the first header field named Location (any letter case),
    // without the blanks around it. Only a line that starts with the field
    // name counts: "Content-Location" and continuation lines never match.
    // Nothing when there is no such field or its value is empty.
    static std::optional<std::string> FindLocation(const std::string& rawHeaders);

    // The authentication schemes the WWW-Authenticate fields offer, in lower
    // case and in order ("basic", "digest", ...), also several in one field.
    static std::vector<std::string> AuthSchemes(const std::string& rawHeaders);
};
