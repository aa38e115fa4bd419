#pragma once

class CSystemTray;

// The balloon that tells the user, the first few times the window goes into
// the tray, that the program goes on watching. Counted in the settings
// store so it stops after nine hides, and never shown once the user's
// bHideMinimizeBalloon is 1.
class HideBalloon
{
public:
    static constexpr int kLastShownCount = 7; // a stored count of 8 or more shows nothing
    static constexpr const char* kText = "Kestrelle will automatically monitor your web sites.";
    static constexpr const char* kTitle = "Kestrelle is Running";
    static constexpr int kTimeoutMs = 5000;

    // Counts the hide and shows the balloon when it is due; returns whether
    // it was shown.
    static bool ShowIfDue(CSystemTray& tray);
};
