#include "settings/COptionsDlg.h"

#include "platform/AppPaths.h"
#include "platform/Utf8Text.h"
#include "settings/CRegStore.h"

#include <algorithm>
#include <cstddef>

namespace {

// How a stored value becomes a field.
enum class Rule
{
    // The stored text, converted as decimal, when it has at least
    // `minChars` characters; otherwise the default.
    DecimalText,
    // CRegStore::ReadInt: -1 (missing or empty) gives the default, any
    // other number is taken as it is.
    Number,
    // The stored text when it has at least `minChars` characters; otherwise
    // the default (empty).
    Text,
    // The sound file's path and, from it, the sound's name (see LoadSound).
    SoundPath,
    // Exactly "1" or "2" gives that number; anything else, missing
    // included, gives the default.
    Choice,
};

struct Setting
{
    const char* name; // the value's name in the store
    Rule rule;
    std::size_t minChars;
    int numberDefault;
    int COptionsDlg::*number;
    std::string COptionsDlg::*text;
};

// Every setting the dialog loads, in the order of the reads. Characters are
// counted as Utf8Text counts them, like every length rule of the program. m_EnableEmail is written
// by the dialog under the spelling m_EnableEMail; the store matches names without regard to case.
const Setting kSettings[] = {
    {"m_Minutes", Rule::DecimalText, 1, 30, &COptionsDlg::m_Minutes, nullptr},
    {"m_PlaySound", Rule::Number, 0, 1, &COptionsDlg::m_PlaySound, nullptr},
    {"WavPathname", Rule::SoundPath, 0, 0, nullptr, &COptionsDlg::m_WavPathname},
    {"m_EnableEmail", Rule::Number, 0, 0, &COptionsDlg::m_EnableEmail, nullptr},
    {"m_EmailServer", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailServer},
    {"m_EmailPort", Rule::DecimalText, 2, 25, &COptionsDlg::m_EmailPort, nullptr},
    {"m_EmailSecurity", Rule::Choice, 0, 0, &COptionsDlg::m_EmailSecurity, nullptr},
    {"m_EmailAddress", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailAddress},
    {"m_EmailUsername", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailUsername},
    {"m_EmailPassword", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailPassword},
};

// The separators a path may use on this platform.
#ifdef _WIN32
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kPathSeparators = "/";
#endif

void Write(const char* name, const std::string& text)
{
    CRegStore::WriteString(CRegStore::kProductKey, name, text);
}

// The framework's integer exchange: blanks around an optional sign and
// digits, nothing else; then the range. A number too long for any integer
// is out of range, not taken cut.
std::optional<std::string> CheckNumber(const std::string& text, int low, int high, int& value)
{
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    std::size_t i = first == std::string::npos ? text.size() : first;
    const bool negative = i < text.size() && text[i] == '-';
    i += i < text.size() && (text[i] == '-' || text[i] == '+');
    const std::size_t digits = i;
    long long number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        number = std::min(number * 10 + (text[i] - '0'), 1LL << 40);
    if (i == digits || last == std::string::npos || i != last + 1)
        return std::string("Please enter an integer.");
    number = negative ? -number : number;
    if (number < low || number > high)
        return "Please enter an integer between " + std::to_string(low) + " and " +
               std::to_string(high) + ".";
    value = static_cast<int>(number);
    return std::nullopt;
}

std::string ReadText(const char* name)
{
    return CRegStore::ReadString(RegRoot::CurrentUser, CRegStore::kSoftware, CRegStore::kProductKey,
                                 name);
}

// The sound's name is what follows the path's last separator. A path without
// one, or ending in one, names no file the program could find: the default
// sound among the program's own files is used instead, in memory only.
void LoadSound(COptionsDlg& dlg, const std::string& stored)
{
    dlg.m_WavPathname = stored;
    const std::size_t cut = stored.find_last_of(kPathSeparators);
    dlg.m_SoundName = cut == std::string::npos ? std::string() : stored.substr(cut + 1);
    if (dlg.m_SoundName.empty()) {
        dlg.m_SoundName = COptionsDlg::kDefaultSound;
        dlg.m_WavPathname = AppPaths::ProgramDataFile(COptionsDlg::kDefaultSound);
    }
}

} // namespace

COptionsDlg::COptionsDlg()
{
    LoadSettings();
}

void COptionsDlg::LoadSettings()
{
    for (const Setting& s : kSettings) {
        if (s.number)
            this->*s.number = s.numberDefault;
        if (s.text)
            (this->*s.text).clear();
    }
    m_SoundName.clear();

    for (const Setting& s : kSettings) {
        switch (s.rule) {
        case Rule::DecimalText: {
            const std::string text = ReadText(s.name);
            if (Utf8Text::CharacterCount(text) >= s.minChars)
                this->*s.number = CRegStore::DecimalValue(text);
            break;
        }
        case Rule::Number: {
            const int value = CRegStore::ReadInt(CRegStore::kProductKey, s.name);
            if (value != -1)
                this->*s.number = value;
            break;
        }
        case Rule::Text: {
            std::string text = ReadText(s.name);
            if (Utf8Text::CharacterCount(text) >= s.minChars)
                this->*s.text = std::move(text);
            break;
        }
        case Rule::SoundPath:
            LoadSound(*this, ReadText(s.name));
            break;
        case Rule::Choice: {
            const std::string text = ReadText(s.name);
            if (text == "1" || text == "2")
                this->*s.number = text[0] - '0';
            break;
        }
        }
    }
}

COptionsDlg::Controls COptionsDlg::Values() const
{
    Controls c;
    c.minutes = std::to_string(m_Minutes);
    c.playSound = m_PlaySound != 0;
    c.password = m_EmailPassword;
    c.username = m_EmailUsername;
    c.address = m_EmailAddress;
    c.enableEmail = m_EnableEmail != 0;
    c.server = m_EmailServer;
    c.port = std::to_string(m_EmailPort);
    c.security = m_EmailSecurity;
    return c;
}

std::optional<std::string> COptionsDlg::CheckMinutes(const std::string& text, int& value)
{
    return CheckNumber(text, 1, 2147483647, value);
}

std::optional<std::string> COptionsDlg::CheckPort(const std::string& text, int& value)
{
    // A port beyond 16 bits would be cut to some other service's port.
    return CheckNumber(text, 1, 65535, value);
}

std::optional<COptionsDlg::Notice> COptionsDlg::TakeValues(const Controls& c)
{
    if (const auto refused = CheckMinutes(c.minutes, m_Minutes))
        return Notice{*refused, Notice::Icon::Exclamation, kMinutesEdit};
    m_PlaySound = c.playSound ? 1 : 0;
    m_EmailPassword = c.password;
    m_EmailUsername = c.username;
    m_EmailAddress = c.address;
    m_EnableEmail = c.enableEmail ? 1 : 0;
    m_EmailServer = c.server;
    if (const auto refused = CheckPort(c.port, m_EmailPort))
        return Notice{*refused, Notice::Icon::Exclamation, kPortEdit};
    m_EmailSecurity = c.security == 1 || c.security == 2 ? c.security : 0;
    return std::nullopt;
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnPlaySoundClicked(const Controls& controls)
{
    auto refused = TakeValues(controls);
    if (!refused)
        WritePlaySound();
    return refused;
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnEnableEmailClicked(const Controls& controls)
{
    auto refused = TakeValues(controls);
    if (!refused)
        WriteEnableEmail();
    return refused;
}

void COptionsDlg::OnSoundChosen(const std::string& path)
{
    m_WavPathname = path;
    m_SoundName = path.substr(path.find_last_of(kPathSeparators) + 1);
    WriteWavPathname();
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnOk(const Controls& controls)
{
    if (auto refused = TakeValues(controls))
        return refused;
    if (m_EnableEmail && m_EmailServer.empty())
        return Notice{"Please enter a valid SMTP Server Address.", Notice::Icon::Stop, kServerEdit};
    if (m_EnableEmail && m_EmailAddress.empty())
        return Notice{"Please enter a valid Email Address to send from.", Notice::Icon::Stop,
                      kAddressEdit};
    SaveOnOk();
    return std::nullopt;
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnTestEmail(const Controls& controls)
{
    if (auto refused = TestEmailChecks(controls))
        return refused;
    return SendTestEmail(TestEmailMessage());
}

std::optional<COptionsDlg::Notice> COptionsDlg::TestEmailChecks(const Controls& controls)
{
    if (auto refused = TakeValues(controls))
        return refused;
    if (m_EmailServer.empty())
        return Notice{"Please enter an SMTP Server Address.", Notice::Icon::Stop, kServerEdit};
    if (m_EmailAddress.empty())
        return Notice{"Please enter an email address for the sender.", Notice::Icon::Stop,
                      kAddressEdit};
    return std::nullopt;
}

MailDelivery::Mail COptionsDlg::TestEmailMessage() const
{
    MailDelivery::Mail mail;
    mail.server = m_EmailServer;
    mail.port = m_EmailPort;
    mail.security = m_EmailSecurity;
    mail.username = m_EmailUsername;
    mail.password = m_EmailPassword;
    mail.senderName = "Kestrelle";
    mail.senderEmail = m_EmailAddress;
    mail.recipient = m_EmailAddress;
    mail.subject = "Test message from Kestrelle";
    mail.body = "\r\nThis is a test message sent from Kestrelle to verify your email settings. If "
                "you receive this message, then your settings appear to be correct.\r\n";
    return mail;
}

std::optional<COptionsDlg::Notice> COptionsDlg::SendTestEmail(const MailDelivery::Mail& mail)
{
    std::string response;
    switch (MailDelivery::Send(mail, response)) {
    case MailDelivery::Outcome::NoConnection:
        return std::nullopt;
    case MailDelivery::Outcome::Sent:
        return Notice{"A test email has been successfully sent to " + mail.recipient,
                      Notice::Icon::Information, 0};
    default:
        return Notice{"There was a problem sending an email to " + mail.recipient +
                          "\n\nPlease check your email settings. Try leaving SMTP Username and "
                          "SMTP Password empty. The full response from your SMTP server is "
                          "listed below:\n\n" +
                          response,
                      Notice::Icon::Stop, 0};
    }
}

void COptionsDlg::WritePlaySound() const
{
    Write("m_PlaySound", m_PlaySound ? "1" : "0");
}

void COptionsDlg::WriteEnableEmail() const
{
    // The dialog has always written this spelling; names match in any case.
    Write("m_EnableEMail", m_EnableEmail ? "1" : "0");
}

void COptionsDlg::WriteWavPathname() const
{
    Write("WavPathname", m_WavPathname);
}

void COptionsDlg::SaveOnOk() const
{
    Write("m_Minutes", std::to_string(m_Minutes));
    Write("m_EmailServer", m_EmailServer);
    Write("m_EmailPort", std::to_string(m_EmailPort));
    Write("m_EmailSecurity", std::to_string(m_EmailSecurity));
    Write("m_EmailAddress", m_EmailAddress);
    Write("m_EmailUsername", m_EmailUsername);
    Write("m_EmailPassword", m_EmailPassword);
}
