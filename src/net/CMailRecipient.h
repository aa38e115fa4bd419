#pragma once

#include <string>

// One recipient of a message, kept as the text that goes into the To and Cc
// lines: display name + "<" + address + ">", nothing between the name and
// "<"; with no display name just "<" + address + ">".
class CMailRecipient
{
public:
    CMailRecipient(const std::string& address, const std::string& displayName);
    virtual ~CMailRecipient() = default;

    const std::string& Text() const { return m_strText; }

    // The address for the RCPT command: what stands between the last "<"
    // and the closing ">". The last "<" rather than the first, since a
    // display name may itself hold a "<" but the address is always the
    // bracketed part at the end.
    std::string Address() const;

private:
    std::string m_strText;
};
