#include "settings/COptionsDlg.h"

#include "monitor/CheckPass.h"
#include "net/MailRules.h"
#include "platform/AppPaths.h"
#include "platform/Utf8Text.h"
#include "settings/CRegStore.h"

#include <algorithm>
#include <cstddef>
#include <type_traits>

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
    // The connection security: MailRules::SecurityFromText (nothing stored
    // is None; a text other than "0", "1" and "2" is unknown).
    Security,
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

// Every value the program keeps in the store: how each is read, its default
// and where it lives, and so how it is written. Characters are counted as
// Utf8Text counts them, like every length rule of the program. m_EnableEmail
// has always been written as m_EnableEMail; the store matches names without
// regard to case.
const Setting kSettings[] = {
    {"m_Minutes", Rule::DecimalText, 1, 30, &COptionsDlg::m_Minutes, nullptr},
    {"iParallelChecks", Rule::DecimalText, 1, CheckPass::kDefaultParallelChecks,
     &COptionsDlg::m_iParallelChecks, nullptr},
    {"iConfirmSeconds", Rule::DecimalText, 1, 0, &COptionsDlg::m_iConfirmSeconds, nullptr},
    {"m_PlaySound", Rule::Number, 0, 1, &COptionsDlg::m_PlaySound, nullptr},
    {"WavPathname", Rule::SoundPath, 0, 0, nullptr, &COptionsDlg::m_WavPathname},
    {"m_EnableEMail", Rule::Number, 0, 0, &COptionsDlg::m_EnableEmail, nullptr},
    {"m_EmailServer", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailServer},
    {"m_EmailPort", Rule::DecimalText, 2, 25, &COptionsDlg::m_EmailPort, nullptr},
    {"m_EmailSecurity", Rule::Security, 0, 0, &COptionsDlg::m_EmailSecurity, nullptr},
    {"m_EmailAddress", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailAddress},
    {"m_EmailUsername", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailUsername},
    {"m_EmailPassword", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailPassword},
    {"bRecoveryBalloon", Rule::Number, 0, 1, &COptionsDlg::m_bRecoveryBalloon, nullptr},
    {"bRecoveryEmail", Rule::Number, 0, 0, &COptionsDlg::m_bRecoveryEmail, nullptr},
    {"iCertWarnDays", Rule::DecimalText, 1, 14, &COptionsDlg::m_iCertWarnDays, nullptr},
    {"bMinimized", Rule::Number, 0, -1, &COptionsDlg::m_bMinimized, nullptr},
    {"bHideMinimizeBalloon", Rule::Number, 0, -1, &COptionsDlg::m_bHideMinimizeBalloon, nullptr},
    {"iShowBalloonTimes", Rule::DecimalText, 1, COptionsDlg::kNotStored,
     &COptionsDlg::m_iShowBalloonTimes, nullptr},
    {"WindowGeometry", Rule::Text, 1, 0, nullptr, &COptionsDlg::m_WindowGeometry},
    {"ListColumns", Rule::Text, 1, 0, nullptr, &COptionsDlg::m_ListColumns},
    {"MetricsFile", Rule::Text, 1, 0, nullptr, &COptionsDlg::m_MetricsFile},
};

template <class Field> const Setting* SettingOf(Field COptionsDlg::*field)
{
    for (const Setting& s : kSettings) {
        if constexpr (std::is_same_v<Field, int>) {
            if (s.number == field)
                return &s;
        } else {
            if (s.text == field)
                return &s;
        }
    }
    return nullptr;
}

// The separators a path may use on this platform.
#ifdef _WIN32
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kPathSeparators = "/";
#endif

bool Write(const char* name, const std::string& text)
{
    return CRegStore::WriteString(CRegStore::kProductKey, name, text);
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

    const CRegStore::Values stored = CRegStore::ReadAll(CRegStore::kProductKey);
    for (const Setting& s : kSettings) {
        std::string text = CRegStore::ValueIn(stored, s.name);
        switch (s.rule) {
        case Rule::DecimalText:
            if (Utf8Text::CharacterCount(text) >= s.minChars)
                this->*s.number = CRegStore::DecimalValue(text);
            break;
        case Rule::Number:
            // As CRegStore::ReadInt reads it: -1 is "not stored".
            if (!text.empty() && CRegStore::DecimalValue(text) != -1)
                this->*s.number = CRegStore::DecimalValue(text);
            break;
        case Rule::Text:
            if (Utf8Text::CharacterCount(text) >= s.minChars)
                this->*s.text = std::move(text);
            break;
        case Rule::SoundPath:
            LoadSound(*this, text);
            break;
        case Rule::Security:
            this->*s.number = MailRules::SecurityFromText(text);
            break;
        }
    }
}

bool COptionsDlg::Store(int COptionsDlg::*field) const
{
    const Setting* s = SettingOf(field);
    return s && Write(s->name, std::to_string(this->*field));
}

bool COptionsDlg::Store(std::string COptionsDlg::*field) const
{
    const Setting* s = SettingOf(field);
    return s && Write(s->name, this->*field);
}

bool COptionsDlg::StoreValue(int COptionsDlg::*field, int value)
{
    const Setting* s = SettingOf(field);
    return s && Write(s->name, std::to_string(value));
}

bool COptionsDlg::StoreValue(std::string COptionsDlg::*field, const std::string& value)
{
    const Setting* s = SettingOf(field);
    return s && Write(s->name, value);
}

COptionsDlg::Controls COptionsDlg::Values() const
{
    Controls c;
    c.minutes = std::to_string(m_Minutes);
    c.parallelChecks = std::to_string(m_iParallelChecks);
    c.confirmSeconds = std::to_string(m_iConfirmSeconds);
    c.playSound = m_PlaySound != 0;
    c.password = m_EmailPassword;
    c.username = m_EmailUsername;
    c.address = m_EmailAddress;
    c.enableEmail = m_EnableEmail != 0;
    c.server = m_EmailServer;
    c.port = std::to_string(m_EmailPort);
    c.security = m_EmailSecurity;
    c.recoveryBalloon = m_bRecoveryBalloon != 0;
    c.recoveryEmail = m_bRecoveryEmail != 0;
    c.certWarnDays = std::to_string(m_iCertWarnDays);
    return c;
}

std::optional<std::string> COptionsDlg::CheckMinutes(const std::string& text, int& value)
{
    return CheckNumber(text, 1, 2147483647, value);
}

std::optional<std::string> COptionsDlg::CheckParallel(const std::string& text, int& value)
{
    return CheckNumber(text, 1, CheckPass::kMostParallelChecks, value);
}

std::optional<std::string> COptionsDlg::CheckConfirm(const std::string& text, int& value)
{
    return CheckNumber(text, 0, 3600, value);
}

std::optional<std::string> COptionsDlg::CheckPort(const std::string& text, int& value)
{
    // A port beyond 16 bits would be cut to some other service's port.
    return CheckNumber(text, 1, 65535, value);
}

std::optional<std::string> COptionsDlg::CheckCertWarnDays(const std::string& text, int& value)
{
    return CheckNumber(text, 0, kMaxCertWarnDays, value);
}

std::optional<COptionsDlg::Notice> COptionsDlg::TakeValues(const Controls& c)
{
    if (const auto refused = CheckMinutes(c.minutes, m_Minutes))
        return Notice{*refused, Notice::Icon::Exclamation, kMinutesEdit};
    if (const auto refused = CheckParallel(c.parallelChecks, m_iParallelChecks))
        return Notice{*refused, Notice::Icon::Exclamation, kParallelEdit};
    if (const auto refused = CheckConfirm(c.confirmSeconds, m_iConfirmSeconds))
        return Notice{*refused, Notice::Icon::Exclamation, kConfirmEdit};
    m_PlaySound = c.playSound ? 1 : 0;
    m_EmailPassword = c.password;
    m_EmailUsername = c.username;
    m_EmailAddress = c.address;
    m_EnableEmail = c.enableEmail ? 1 : 0;
    m_EmailServer = c.server;
    if (const auto refused = CheckPort(c.port, m_EmailPort))
        return Notice{*refused, Notice::Icon::Exclamation, kPortEdit};
    m_EmailSecurity = c.security == 1 || c.security == 2 ? c.security : 0;
    m_bRecoveryBalloon = c.recoveryBalloon ? 1 : 0;
    m_bRecoveryEmail = c.recoveryEmail ? 1 : 0;
    if (const auto refused = CheckCertWarnDays(c.certWarnDays, m_iCertWarnDays))
        return Notice{*refused, Notice::Icon::Exclamation, kCertWarnDaysEdit};
    return std::nullopt;
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnPlaySoundClicked(const Controls& controls)
{
    auto refused = TakeValues(controls);
    if (!refused)
        Store(&COptionsDlg::m_PlaySound);
    return refused;
}

std::optional<COptionsDlg::Notice> COptionsDlg::OnEnableEmailClicked(const Controls& controls)
{
    auto refused = TakeValues(controls);
    if (!refused)
        Store(&COptionsDlg::m_EnableEmail);
    return refused;
}

void COptionsDlg::OnSoundChosen(const std::string& path)
{
    m_WavPathname = path;
    m_SoundName = path.substr(path.find_last_of(kPathSeparators) + 1);
    Store(&COptionsDlg::m_WavPathname);
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

std::optional<COptionsDlg::Notice> COptionsDlg::TestEmailNotice(const MailDelivery::Report& report,
                                                                const std::string& recipient)
{
    switch (report.outcome) {
    case MailDelivery::Outcome::NoConnection:
        return std::nullopt;
    case MailDelivery::Outcome::Sent:
        return Notice{"A test email has been successfully sent to " + recipient,
                      Notice::Icon::Information, 0};
    default:
        return Notice{"There was a problem sending an email to " + recipient +
                          "\n\nPlease check your email settings. Try leaving SMTP Username and "
                          "SMTP Password empty. The full response from your SMTP server is "
                          "listed below:\n\n" +
                          report.response,
                      Notice::Icon::Stop, 0};
    }
}

std::optional<COptionsDlg::Notice> COptionsDlg::UnknownSecurityNotice() const
{
    if (m_EmailSecurity != MailRules::kSecurityUnknown)
        return std::nullopt;
    return Notice{"The stored connection security is not one Kestrelle knows, so no email is sent "
                  "with it. Please choose None, STARTTLS or SSL/TLS and press OK.",
                  Notice::Icon::Exclamation, kSecurityCombo};
}

void COptionsDlg::SaveOnOk() const
{
    Store(&COptionsDlg::m_Minutes);
    Store(&COptionsDlg::m_iParallelChecks);
    Store(&COptionsDlg::m_iConfirmSeconds);
    Store(&COptionsDlg::m_EmailServer);
    Store(&COptionsDlg::m_EmailPort);
    Store(&COptionsDlg::m_EmailSecurity);
    Store(&COptionsDlg::m_EmailAddress);
    Store(&COptionsDlg::m_EmailUsername);
    Store(&COptionsDlg::m_EmailPassword);
    Store(&COptionsDlg::m_bRecoveryBalloon);
    Store(&COptionsDlg::m_bRecoveryEmail);
    Store(&COptionsDlg::m_iCertWarnDays);
}
