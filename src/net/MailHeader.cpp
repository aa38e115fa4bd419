#include "net/MailHeader.h"

#include "net/MailRules.h"
#include "platform/TimeText.h"

namespace {

std::string Joined(const std::vector<std::string>& texts)
{
    std::string text;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (i > 0)
            text += ",";
        text += texts[i];
    }
    return text;
}

std::optional<std::string> Refuse(MailHeader::Refusal* refusal, MailHeader::Refused why,
                                  std::string what = {})
{
    if (refusal)
        *refusal = {why, std::move(what)};
    return std::nullopt;
}

} // namespace

std::optional<std::string> MailHeader::Compose(const Fields& f, std::time_t now, Refusal* refusal)
{
    if (f.to.empty())
        return Refuse(refusal, Refused::NoRecipient);
    const struct
    {
        const std::optional<std::string>& value;
        const char* what;
    } values[] = {{f.senderName, "The sender name"},
                  {f.senderEmail, "The sender address"},
                  {f.subject, "The subject"},
                  {f.xMailer, "The X-Mailer value"},
                  {f.replyTo, "The Reply-To value"}};
    for (const auto& v : values)
        if (v.value && MailRules::HasLineBreak(*v.value))
            return Refuse(refusal, Refused::LineBreak, v.what);
    for (const auto* list : {&f.to, &f.cc})
        for (const std::string& r : *list)
            if (MailRules::HasLineBreak(r))
                return Refuse(refusal, Refused::LineBreak, "A recipient");

    std::string header = "DATE: " + TimeText::Utc(now, "%a, %d %b %Y") + " " +
                         TimeText::Utc(now, "%H:%M:%S %p") + "\r\n";
    if (f.senderName)
        header += "From: \"" + *f.senderName + "\" <" + f.senderEmail + ">\r\n";
    header += "To: " + Joined(f.to) + "\r\n";
    header += "Cc: " + Joined(f.cc) + "\r\n";
    if (f.subject)
        header += "Subject: " + *f.subject + "\r\n";
    if (f.xMailer)
        header += "X-Mailer: " + *f.xMailer + "\r\n";
    if (f.replyTo)
        header += "Reply-To: " + *f.replyTo + "\r\n";
    header += "MIME-Version: 1.0\r\nContent-type: text/plain; charset=US-ASCII\r\n";
    header += "\r\n";
    if (header.size() > kMaxLength)
        return Refuse(refusal, Refused::TooLong);
    return header;
}
