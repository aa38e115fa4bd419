#include "ui/FlashAlertThread.h"

#include "ui/CSystemTray.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

std::atomic<bool> g_bKeepFlashing{false};
std::atomic<bool> g_bFlashRunning{false};

namespace {
// Wakes a flashing thread when the flashing is to stop, and the exit path
// when the thread has stopped, so neither polls.
std::mutex g_flashMutex;
std::condition_variable g_flashChanged;
std::atomic<int> g_stepMs{FlashAlertThread::kStepMs};

// Waits one step; false when the flashing was stopped meanwhile.
bool WaitStep()
{
    std::unique_lock<std::mutex> lock(g_flashMutex);
    return !g_flashChanged.wait_for(lock, std::chrono::milliseconds(g_stepMs.load()),
                                    [] { return !g_bKeepFlashing.load(); });
}
} // namespace

void FlashAlertThread::SetStepForTests(int ms)
{
    g_stepMs = ms;
}

std::string FlashAlertThread::TipText(const std::string& siteName)
{
    return std::string(CSystemTray::kTipRunning) + " has detected " + siteName + " may be down";
}

void FlashAlertThread::KeepFlashing()
{
    std::lock_guard<std::mutex> lock(g_flashMutex);
    g_bKeepFlashing = true;
}

void FlashAlertThread::Start(FlashAlertJob job)
{
    std::thread(&FlashAlertThread::Run, std::move(job)).detach();
}

void FlashAlertThread::StopAndWait()
{
    std::unique_lock<std::mutex> lock(g_flashMutex);
    g_bKeepFlashing = false;
    g_flashChanged.notify_all();
    g_flashChanged.wait(lock, [] { return !g_bFlashRunning.load(); });
}

void FlashAlertThread::Run(FlashAlertJob job)
{
    // Taken in one step, so two alerts of one pass cannot both start an
    // episode and play the sound twice.
    if (g_bFlashRunning.exchange(true))
        return;
    // The window was shown (or the program is ending) before this thread
    // got going: that episode is over before it began, and makes no sound.
    if (!g_bKeepFlashing) {
        std::lock_guard<std::mutex> lock(g_flashMutex);
        g_bFlashRunning = false;
        g_flashChanged.notify_all();
        return;
    }
    if (job.playSound)
        job.playSound();
    CSystemTray& tray = *job.tray;
    tray.SetTipText(TipText(job.siteName));
    while (g_bKeepFlashing) {
        tray.SetIconById(CSystemTray::kIconAlert);
        const bool more = WaitStep();
        // Ends on the picture of the state monitoring is in by now.
        tray.ShowStateIcon();
        if (!more || !g_bKeepFlashing || !WaitStep())
            break;
    }
    tray.SetTipText(CSystemTray::kTipRunning);
    std::lock_guard<std::mutex> lock(g_flashMutex);
    g_bFlashRunning = false;
    g_flashChanged.notify_all();
}
