#pragma once

#include <cstddef>
#include <string>

// Standard base64 (RFC 4648): the A-Z a-z 0-9 + / alphabet, "=" padding,
// no line breaks. An empty input gives an empty text.
std::string Base64Encode(const void* bytes, size_t count);

inline std::string Base64Encode(const std::string& text)
{
    return Base64Encode(text.data(), text.size());
}
