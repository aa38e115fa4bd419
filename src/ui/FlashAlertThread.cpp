#include "ui/FlashAlertThread.h"

#include "ui/CSystemTray.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

std::atomic<bool> FlashAlertThread::g_bKeepFlashing{false};
std::atomic<bool> FlashAlertThread::g_bFlashRunning{false};

namespace {
// Wakes a flashing thread when the flashing is to stop, and the exit path
// when the thread has stopped, so neither polls.
std::mutex g_flashMutex;
std::condition_variable g_flashChanged;
std::atomic<int> g_stepMs{FlashAlertThread::kStepMs};

// The one flash thread, with its own lock: joining it must not hold the
// lock the ending thread takes last. The program's end joins it; a process
// that ends some other way must not be stopped short by a thread object
// still joinable among the static objects.
struct FlashThread
{
    ~FlashThread()
    {
        if (thread.joinable())
            thread.detach();
    }
    std::thread thread;
};
std::mutex g_threadMutex;
FlashThread g_flash;
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

void FlashAlertThread::StopFlashing()
{
    std::lock_guard<std::mutex> lock(g_flashMutex);
    g_bKeepFlashing = false;
    g_flashChanged.notify_all();
}

void FlashAlertThread::Start(FlashAlertJob job)
{
    std::lock_guard<std::mutex> threadLock(g_threadMutex);
    // Taken in one step, so two alerts of one pass cannot both start an
    // episode and play the sound twice.
    if (g_bFlashRunning.exchange(true))
        return;
    // The previous episode has ended: only its thread's last step is left.
    if (g_flash.thread.joinable())
        g_flash.thread.join();
    try {
        g_flash.thread = std::thread(&FlashAlertThread::Run, std::move(job));
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Kestrelle: cannot flash the tray icon: %s\n", e.what());
        Finished();
    }
}

void FlashAlertThread::StopAndWait()
{
    {
        std::unique_lock<std::mutex> lock(g_flashMutex);
        g_bKeepFlashing = false;
        g_flashChanged.notify_all();
        g_flashChanged.wait(lock, [] { return !g_bFlashRunning.load(); });
    }
    std::lock_guard<std::mutex> threadLock(g_threadMutex);
    if (g_flash.thread.joinable())
        g_flash.thread.join();
}

bool FlashAlertThread::WaitStep()
{
    std::unique_lock<std::mutex> lock(g_flashMutex);
    return !g_flashChanged.wait_for(lock, std::chrono::milliseconds(g_stepMs.load()),
                                    [] { return !g_bKeepFlashing.load(); });
}

void FlashAlertThread::Finished()
{
    std::lock_guard<std::mutex> lock(g_flashMutex);
    g_bFlashRunning = false;
    g_flashChanged.notify_all();
}

void FlashAlertThread::Run(FlashAlertJob job)
{
    // The window was shown (or the program is ending) before this thread
    // got going: that episode is over before it began, and makes no sound.
    if (!g_bKeepFlashing) {
        Finished();
        return;
    }
    if (job.playSound)
        job.playSound();
    CSystemTray& tray = *job.tray;
    tray.SetTipText(TipText(job.siteName));
    while (g_bKeepFlashing) {
        tray.SetIconById(CSystemTray::kIconAlert);
        const bool more = WaitStep();
        tray.ShowStateIcon();
        if (!more || !g_bKeepFlashing || !WaitStep())
            break;
    }
    // Ends on the picture of the state monitoring is in by now, which the
    // Enabled command may have changed during the last step.
    tray.ShowStateIcon();
    tray.ShowStateTip();
    Finished();
}
