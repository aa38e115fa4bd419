#pragma once

#include <atomic>
#include <functional>
#include <string>

class CSystemTray;

// One sound-and-flash request of a site found down while the window is
// hidden in the tray.
struct FlashAlertJob
{
    CSystemTray* tray = nullptr; // not owned; outlives the episode
    std::string siteName;
    // Plays the alert sound once and returns at once.
    std::function<void()> playSound;
};

// The flash episode on a thread of its own: the sound once, the tooltip
// naming the site, then the alert picture and the state's picture by turns
// until the flashing is stopped. At most one thread flashes; it is joined
// by the next episode's start and by StopAndWait.
class FlashAlertThread
{
public:
    static constexpr int kStepMs = 1000;

    // Starts an episode unless one is flashing already (then the request is
    // over: no second sound, no second thread).
    static void Start(FlashAlertJob job);
    // Sets g_bKeepFlashing (the alert does this before Start).
    static void KeepFlashing();
    // Clears g_bKeepFlashing: the window is shown again. Returns at once.
    static void StopFlashing();
    // Clears g_bKeepFlashing and returns once no thread flashes and the
    // thread is joined. A flashing thread wakes from its step at once, so
    // this takes no longer than one icon change.
    static void StopAndWait();
    // An episode is flashing (g_bFlashRunning).
    static bool Running() { return g_bFlashRunning.load(); }

    static std::string TipText(const std::string& siteName);

    static void SetStepForTests(int ms);

private:
    static void Run(FlashAlertJob job);
    static bool WaitStep();
    static void Finished();

    // The tray icon is to keep flashing: set by the alert that starts a
    // flash, cleared when the main window is shown again and at exit.
    static std::atomic<bool> g_bKeepFlashing;
    // An episode is flashing: set by Start, cleared by the episode's thread
    // at its end.
    static std::atomic<bool> g_bFlashRunning;
};
