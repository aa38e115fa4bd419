#pragma once

#include "settings/COptionsDlg.h"

#include <QDialog>

#include <memory>

class AlertChain;
class CSiteListCtrl;
class CUpgradeDlg;
class DataFileSaver;
class SiteList;
class SiteListModel;
class TrayPresence;
namespace Ui {
class CKestrelleDlg;
}

// The program's one main window: the site list, the buttons that act on it,
// the next-check time and two lines on what the program does. Closing it,
// Escape and minimising never end the program; they put the window away
// (MinimizeToTray).
class CKestrelleDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CKestrelleDlg(QWidget* parent = nullptr);
    ~CKestrelleDlg() override;

    // The start-up steps once the window exists: the list's columns, the
    // list from the data file, the first check pass on a worker thread.
    void OnInitDialog();

    // Appends the entries of the data file to the list.
    void LoadSites();
    // Asks for the list to be written to the data file; returns at once.
    void SaveSites();

    SiteList& Sites();
    DataFileSaver& Saver();
    // The steps a failed check runs, on the pass's thread; empty until the
    // program adds its alert steps at start-up, before the first pass.
    AlertChain& Alerts();
    SiteListModel& Model() { return *m_model; }
    CSiteListCtrl& ListCtrl();
    Ui::CKestrelleDlg& Controls() { return *m_ui; }

    // The tray icon, the check timer, the exit and the alert steps beside it.
    TrayPresence& Presence() { return *m_presence; }

    // True while the window is put away in the tray.
    bool IsMinimized() const { return m_bMinimized; }

public Q_SLOTS:
    // Check Now: a check pass on a worker thread of its own; returns at once.
    // A request while a pass runs becomes one more pass after it.
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
    virtual void ExitProgram();
    // The tray menu's Enabled; Options OK; after a timer pass.
    void ToggleEnabled();
    void RestartCheckTimer();
    void UpdateNextCheck();
    // The session ends: as Exit, without the question.
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

    COptionsDlg m_Options;
    bool m_bMinimized = false;
    bool m_bPuttingAway = false;
    std::unique_ptr<Ui::CKestrelleDlg> m_ui;
    // Shared with the pass threads, which may outlive the window.
    std::shared_ptr<Monitor> m_monitor;
    std::unique_ptr<SiteListModel> m_model;
    std::unique_ptr<TrayPresence> m_presence;
    std::unique_ptr<CUpgradeDlg> m_upgradeDlg;
};
