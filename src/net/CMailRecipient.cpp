#include "net/CMailRecipient.h"

CMailRecipient::CMailRecipient(const std::string& address, const std::string& displayName)
    : m_strText(displayName + "<" + address + ">")
{
}

std::string CMailRecipient::Address() const
{
    const auto open = m_strText.rfind('<');
    if (open == std::string::npos)
        return m_strText;
    const auto close = m_strText.rfind('>');
    if (close == std::string::npos || close < open)
        return m_strText.substr(open + 1);
    return m_strText.substr(open + 1, close - open - 1);
}
