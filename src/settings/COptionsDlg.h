#pragma once

#include <string>

// The Options dialog's object. Like every dialog class of the program it owns
// its fields and has no window until DoModal runs, so it can be constructed
// on any thread just to read the settings as they are stored at that moment.
//
// This file holds the half the core needs: the fields and their loading,
// which link no GUI module. The window half (DoModal, its controls and
// handlers) is compiled with the user interface and adds its members to
// this class there; loading stays here.
class COptionsDlg
{
public:
    // Loads every setting (LoadSettings).
    COptionsDlg();

    // Sets every field to its default, then reads the stored values over
    // them, each by its own rule. Stored values that the check timer cannot
    // take as they are (an m_Minutes below 1, say) are loaded as they are:
    // bounding them is the timer's business. Writes nothing.
    void LoadSettings();

    int m_Minutes{};
    int m_PlaySound{};
    std::string m_SoundName;
    std::string m_WavPathname;
    int m_EnableEmail{};
    std::string m_EmailServer;
    int m_EmailPort{};
    std::string m_EmailAddress;
    std::string m_EmailUsername;
    std::string m_EmailPassword;

    // The sound used when WavPathname names no file; it sits beside the
    // executable.
    static constexpr const char* kDefaultSound = "default.wav";
};
