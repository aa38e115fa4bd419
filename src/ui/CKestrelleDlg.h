#pragma once

#include "settings/COptionsDlg.h"
#include "ui/TrayHost.h"

#include <QDialog>
#include <QPointer>

#include <cstdint>
#include <map>
#include <memory>

class AlertChain;
class AlertSound;
class CCredentialsDlg;
class CheckScheduler;
class CSiteListCtrl;
class CSystemTray;
class CUpgradeDlg;
class DataFileSaver;
class NetworkWatch;
class PassWorker;
class SiteList;
class SiteListModel;
class SleepWatcher;
class TrayPresence;
namespace Ui {
class CKestrelleDlg;
}

// The program's one main window: the site list, the buttons that act on it,
// the next-check time and two lines on what the program does. It holds the
// tray icon, the check timer and the alert sound for the whole run. Closing
// it, Escape and minimising never end the program; they put the window away
// (MinimizeToTray). Lives and is used on the user-interface thread.
class CKestrelleDlg : public QDialog
{
    Q_OBJECT

public:
    // Without a tray host, the desktop's notification area.
    explicit CKestrelleDlg(std::unique_ptr<TrayHost> trayHost = {}, QWidget* parent = nullptr);
    // Waits for a check pass under way to end.
    ~CKestrelleDlg() override;

    static constexpr const char* kExitQuestion =
        "Are you sure you want to exit the program?\nYour web sites will no longer be monitored.";

    // The start-up steps once the window exists: the list's columns, the
    // tray icon, the stored hidden state, the list from the data file, the
    // first check pass on the pass thread, the check timer.
    void OnInitDialog();

    // Appends the entries of the data file to the list.
    void LoadSites();
    // Asks for the list to be written to the data file; returns at once.
    void SaveSites();

    SiteList& Sites();
    DataFileSaver& Saver();
    // The steps a failed check runs, on the pass's thread; empty until the
    // program adds its alert steps at start-up, before the first pass. The
    // steps must outlive the window.
    AlertChain& Alerts();
    SiteListModel& Model() { return *m_model; }
    CSiteListCtrl& ListCtrl();
    Ui::CKestrelleDlg& Controls() { return *m_ui; }

    CSystemTray& Tray() { return *m_tray; }
    CheckScheduler& Scheduler() { return *m_scheduler; }
    AlertSound& Sound() { return *m_sound; }
    // Whether the window is put away in the tray.
    TrayPresence& Presence() { return *m_presence; }
    bool IsMinimized() const;
    NetworkWatch& Network() { return *m_network; }
    // The last pass found the computer offline, or NetworkManager says so
    // since: the next-check label says so instead of a time.
    bool IsOffline() const { return m_bOffline; }

    // Opens the log-in prompt of the entry whose last check wanted one
    // (raises it when it is open already) and returns at once; an answer
    // checks the site again. False, and nothing opened, for an entry that
    // wants no log-in.
    bool AskLogIn(std::uint64_t id);

public Q_SLOTS:
    // Check Now: a check pass on the pass thread; returns at once. A request
    // while a pass runs becomes one more pass after it.
    void CheckSites();
    void AddSite();
    void EditSite();
    void RemoveSites();
    // The details of the selected site from the history of checks.
    void OnHistory();
    void OnOptions();
    void OnHelp();
    void OnUpgrade();
    void OnAbout();
    // Puts the window away; without a tray to bring it back from, that is
    // the task bar: the window is minimised, never hidden.
    void MinimizeToTray();
    void RestoreFromTray();
    // Asks first; on Yes ends the program.
    virtual void ExitProgram();
    // The tray menu's Enabled; Options OK; after a timer pass.
    void ToggleEnabled();
    void RestartCheckTimer();
    void UpdateNextCheck();
    // Ends the program without asking (the session ends, an upgrade was
    // installed): through ProgramEnd, which runs this window's closing steps.
    void EndProgram();

Q_SIGNALS:
    // A check pass has ended and its save is written (`saved` false when
    // the save failed). On the user-interface thread.
    void PassEnded(bool saved);

protected:
    // Escape and the close box.
    void reject() override;
    void changeEvent(QEvent* event) override;

private:
    struct Monitor;

    void OnTrayCommand(int commandId);
    void EditEntry(std::uint64_t id);
    // A pass ended: whether it found the computer offline.
    void SetOffline(bool offline);
    // Before the process ends: the flashing stopped and waited for, the
    // timer killed, the icon removed, the saves asked for written.
    void CloseDown();

    COptionsDlg m_Options;
    void KeepColumnWidths();
    bool m_bPuttingAway = false;
    bool m_bClosing = false; // the window is going: no more passes
    bool m_bOffline = false;
    std::unique_ptr<Ui::CKestrelleDlg> m_ui;
    std::unique_ptr<Monitor> m_monitor;
    std::unique_ptr<SiteListModel> m_model;
    std::unique_ptr<CSystemTray> m_tray;
    std::unique_ptr<CheckScheduler> m_scheduler;
    std::unique_ptr<SleepWatcher> m_sleep;
    std::unique_ptr<NetworkWatch> m_network;
    std::unique_ptr<AlertSound> m_sound;
    std::unique_ptr<TrayPresence> m_presence;
    std::unique_ptr<CUpgradeDlg> m_upgradeDlg;
    // Runs the passes over m_monitor; joined first when the window goes.
    std::unique_ptr<PassWorker> m_passes;
    // Checks the sites whose log-in was just given, through the same gate.
    std::unique_ptr<PassWorker> m_siteChecks;
    // Hands the memory a pass let go of back to the system.
    std::unique_ptr<PassWorker> m_memoryReturn;
    std::map<std::uint64_t, QPointer<CCredentialsDlg>> m_logInPrompts;
};
