#include "settings/COptionsDlg.h"

#include "platform/AppPaths.h"
#include "platform/Utf8Text.h"
#include "settings/CRegStore.h"

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
// counted as Utf8Text counts them, like every length rule of the program. m_EnableEmail is written by the dialog under the
// spelling m_EnableEMail; the store matches names without regard to case.
const Setting kSettings[] = {
    {"m_Minutes", Rule::DecimalText, 1, 30, &COptionsDlg::m_Minutes, nullptr},
    {"m_PlaySound", Rule::Number, 0, 1, &COptionsDlg::m_PlaySound, nullptr},
    {"WavPathname", Rule::SoundPath, 0, 0, nullptr, &COptionsDlg::m_WavPathname},
    {"m_EnableEmail", Rule::Number, 0, 0, &COptionsDlg::m_EnableEmail, nullptr},
    {"m_EmailServer", Rule::Text, 2, 0, nullptr, &COptionsDlg::m_EmailServer},
    {"m_EmailPort", Rule::DecimalText, 2, 25, &COptionsDlg::m_EmailPort, nullptr},
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

std::string ReadText(const char* name)
{
    return CRegStore::ReadString(RegRoot::CurrentUser, CRegStore::kSoftware, CRegStore::kProductKey,
                                 name);
}

// The sound's name is what follows the path's last separator. A path without
// one, or ending in one, names no file the program could find: the default
// sound beside the executable is used instead, in memory only.
void LoadSound(COptionsDlg& dlg, const std::string& stored)
{
    dlg.m_WavPathname = stored;
    const std::size_t cut = stored.find_last_of(kPathSeparators);
    dlg.m_SoundName = cut == std::string::npos ? std::string() : stored.substr(cut + 1);
    if (dlg.m_SoundName.empty()) {
        dlg.m_SoundName = COptionsDlg::kDefaultSound;
        dlg.m_WavPathname = AppPaths::BesideExecutable(COptionsDlg::kDefaultSound);
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
        }
    }
}
