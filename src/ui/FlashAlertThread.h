#pragma once

#include <atomic>
#include <functional>
#include <string>

class CSystemTray;

// The tray icon is to keep flashing: set by the alert that starts a flash,
// cleared when the main window is shown again and at exit.
extern std::atomic<bool> g_bKeepFlashing;
// A flash thread is flashing; only that thread sets and clears it.
extern std::atomic<bool> g_bFlashRunning;

// One sound-and-flash request of a site found down while the window is
// hidden in the tray.
struct FlashAlertJob
{
    CSystemTray* tray = nullptr; // not owned; outlives the thread
    std::string siteName;
    // Plays the alert sound once and returns at once.
    std::function<void()> playSound;
};

// The flash episode on a thread of its own: the sound once, the tooltip
// naming the site, then the alert picture and the state's picture by turns
// until g_bKeepFlashing is cleared.
class FlashAlertThread
{
public:
    static constexpr int kStepMs = 1000;

    // Starts the thread; nobody waits for it but the exit path.
    static void Start(FlashAlertJob job);
    // Clears g_bKeepFlashing and returns once no thread flashes. A flash
    // thread wakes from its step at once, so this takes no longer than one
    // icon change.
    static void StopAndWait();
    // Sets g_bKeepFlashing (the alert does this before Start).
    static void KeepFlashing();

    static std::string TipText(const std::string& siteName);

    static void SetStepForTests(int ms);

private:
    static void Run(FlashAlertJob job);
};
