#pragma once

#include "ui/AlertSound.h"
#include "ui/CSystemTray.h"
#include "ui/CheckScheduler.h"
#include "ui/SleepWatcher.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class AlertChain;
class AlertSink;
class QWidget;

// The main window's life beside the tray: putting the window away and
// bringing it back, the check timer and its label, the Enabled command, the
// exit, and the balloon and flash steps of an alert. The main window keeps
// the commands' names and hands them here, so this half can be tested on
// its own.
class TrayPresence : public QObject
{
    Q_OBJECT

public:
    // What this half needs of the main window.
    struct Window
    {
        QWidget* widget = nullptr;
        std::function<void()> checkSites;                  // a pass on a worker thread
        std::function<int()> minutes;                      // the stored m_Minutes
        std::function<AlertSound::Choice()> soundChoice;   // m_PlaySound, m_WavPathname
        std::function<void(const QString&)> showNextCheck; // the label 1038
        std::function<void()> finishSaves;                 // waits for saves asked for
    };

    static constexpr const char* kExitQuestion =
        "Are you sure you want to exit the program?\nYour web sites will no longer be monitored.";
    // The time a down site's balloon asks to stay; notification servers
    // with a shorter limit keep to theirs.
    static constexpr int kAlertBalloonMs = 28800000;

    explicit TrayPresence(Window window, std::unique_ptr<TrayHost> host = {},
                          QObject* parent = nullptr);
    ~TrayPresence() override;

    // Start-up steps, in the order the window runs them.
    void CreateIcon();           // the icon with "Kestrelle is loading.."
    void ApplyStoredMinimized(); // bMinimized as stored: 1 puts the window away
    void StartTimer();           // the period from now, and the label
    void FinishStart();          // the tooltip "Kestrelle"
    // Whether the window is to be shown at the end of start-up.
    bool ShowAtStart() const { return !m_hiddenInTray; }

    // Puts the window away: hidden in the tray, or minimised where no tray
    // can bring it back; bMinimized stored as 1; the hide balloon counted.
    void MinimizeToTray();
    // The window was shown again (by the tray, a second copy, or the task
    // bar where no tray exists): the flashing stops, bMinimized stored as 0.
    void Restored();
    bool HiddenInTray() const { return m_hiddenInTray.load(); }

    void ToggleEnabled();
    void UpdateNextCheck();
    void RestartCheckTimer();

    // Asks first; on Yes ends the program with code 0.
    void ExitProgram();
    // Ends the program without asking (the session ends): the flashing
    // stopped and waited for, the timer killed, the icon removed, the saves
    // asked for written, then exit code 0.
    void EndProgram();

    // Adds the desktop's alert steps to the pass's chain in their order:
    // the balloon, the e-mail, the sound and flashing.
    void AddAlertSteps(AlertChain& chain);

    // The alert steps, called on the pass's thread; both return at once.
    void ShowAlertBalloon(const std::string& text, const std::string& title);
    void FlashIfHidden(const std::string& siteName);

    CSystemTray& Tray() { return m_tray; }
    CheckScheduler& Scheduler() { return m_scheduler; }
    AlertSound& Sound() { return m_sound; }

    // The process's end; tests record the code instead.
    static void SetExitForTests(std::function<void(int)> exitFunction);

Q_SIGNALS:
    // A tray menu command the main window carries out (About, Options,
    // Help, Upgrade); Enabled and Exit are handled here.
    void Command(int commandId);

private:
    void OnTrayCommand(int commandId);

    Window m_window;
    CSystemTray m_tray;
    CheckScheduler m_scheduler;
    SleepWatcher m_sleep;
    AlertSound m_sound;
    std::atomic<bool> m_hiddenInTray{false};
    std::unique_ptr<AlertSink> m_balloonStep;
    std::unique_ptr<AlertSink> m_mailStep;
    std::unique_ptr<AlertSink> m_flashStep;
};
