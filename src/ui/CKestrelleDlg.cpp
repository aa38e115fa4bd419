#include "ui/CKestrelleDlg.h"

#include "monitor/AlertChain.h"
#include "monitor/CheckPass.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/SiteList.h"
#include "platform/AppPaths.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CUpgradeDlg.h"
#include "ui/SiteListModel.h"
#include "ui/TrayPresence.h"
#include "ui_KestrelleDlg.h"

#include <QEvent>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

// What a check pass works on. A pass thread holds it as long as it runs, so
// a window closed in the middle of a pass leaves the pass nothing dangling.
struct CKestrelleDlg::Monitor : CheckPass::Observer
{
    explicit Monitor(std::string dataFile) : saver(std::move(dataFile)), pass(list, &saver, alerts)
    {
        pass.SetObserver(this);
    }

    void RowChecked(const CheckPass::RowResult&) override {}

    void PassEnded(bool saved) override
    {
        std::lock_guard lock(windowMutex);
        if (!window)
            return;
        CKestrelleDlg* target = window;
        QMetaObject::invokeMethod(
            target, [target, saved] { Q_EMIT target->PassEnded(saved); }, Qt::QueuedConnection);
    }

    SiteList list;
    DataFileSaver saver;
    AlertChain alerts;
    CheckPass pass;
    std::mutex windowMutex;
    CKestrelleDlg* window = nullptr; // cleared when the window goes
};

CKestrelleDlg::CKestrelleDlg(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CKestrelleDlg>()),
      m_monitor(std::make_shared<Monitor>(AppPaths::DataFile())),
      m_upgradeDlg(std::make_unique<CUpgradeDlg>())
{
    m_ui->setupUi(this);
    m_model = std::make_unique<SiteListModel>(m_monitor->list);
    {
        std::lock_guard lock(m_monitor->windowMutex);
        m_monitor->window = this;
    }
    m_ui->labelMakerLink->setText(QStringLiteral(KESTRELLE_MAKER_URL));
    connect(m_ui->buttonCheckNow, &QPushButton::clicked, this, &CKestrelleDlg::CheckSites);
    connect(m_ui->buttonUpgrade, &QPushButton::clicked, this, &CKestrelleDlg::OnUpgrade);

    TrayPresence::Window window;
    window.widget = this;
    window.checkSites = [this] { CheckSites(); };
    window.minutes = [this] { return m_Options.m_Minutes; };
    window.soundChoice = [this] {
        return AlertSound::Choice{m_Options.m_PlaySound != 0, m_Options.m_WavPathname};
    };
    window.showNextCheck = [this](const QString& text) { m_ui->labelNextCheck->setText(text); };
    window.finishSaves = [this] { m_monitor->saver.Flush(); };
    m_presence = std::make_unique<TrayPresence>(std::move(window));
    connect(m_presence.get(), &TrayPresence::Command, this, [this](int command) {
        switch (command) {
        case CSystemTray::kCmdAbout:
            OnAbout();
            break;
        case CSystemTray::kCmdRestore:
            RestoreFromTray();
            break;
        case CSystemTray::kCmdHelp:
            OnHelp();
            break;
        case CSystemTray::kCmdUpgrade:
            OnUpgrade();
            break;
        default:
            break;
        }
    });
}

CKestrelleDlg::~CKestrelleDlg()
{
    std::lock_guard lock(m_monitor->windowMutex);
    m_monitor->window = nullptr;
}

void CKestrelleDlg::OnInitDialog()
{
    m_ui->listSites->SetSiteModel(m_model.get());
    m_presence->CreateIcon();
    m_presence->ApplyStoredMinimized();
    m_bMinimized = m_presence->HiddenInTray();
    LoadSites();
    m_presence->AddAlertSteps(Alerts());
    CheckSites();
    m_presence->StartTimer();
    m_presence->FinishStart();
}

void CKestrelleDlg::LoadSites()
{
    DataFile::LoadSites(m_monitor->list, m_monitor->saver.Path());
}

void CKestrelleDlg::SaveSites()
{
    m_monitor->saver.Save(m_monitor->list);
}

SiteList& CKestrelleDlg::Sites()
{
    return m_monitor->list;
}

DataFileSaver& CKestrelleDlg::Saver()
{
    return m_monitor->saver;
}

AlertChain& CKestrelleDlg::Alerts()
{
    return m_monitor->alerts;
}

CSiteListCtrl& CKestrelleDlg::ListCtrl()
{
    return *m_ui->listSites;
}

void CKestrelleDlg::CheckSites()
{
    // The window never waits for a pass: a page may take minutes, and a
    // modal dialog opened from a waiting loop would stall the pass.
    try {
        std::thread([monitor = m_monitor] { monitor->pass.CheckSites(); }).detach();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Kestrelle: cannot start a check pass: %s\n", e.what());
    }
}

void CKestrelleDlg::AddSite() {}

void CKestrelleDlg::EditSite() {}

void CKestrelleDlg::RemoveSites() {}

void CKestrelleDlg::OnOptions() {}

void CKestrelleDlg::OnHelp() {}

void CKestrelleDlg::OnUpgrade()
{
    // An installed upgrade ends the program: the list's last save first.
    CUpgradeDlg::SetExitFunction([this](int code) {
        Saver().Flush();
        std::exit(code);
    });
    m_upgradeDlg->SetUpgradeInfo("Kestrelle", 1.0f, KESTRELLE_UPGRADE_URL);
    m_upgradeDlg->DoModal(this);
}

void CKestrelleDlg::OnAbout() {}

void CKestrelleDlg::ExitProgram()
{
    m_presence->ExitProgram();
}

void CKestrelleDlg::EndProgram()
{
    m_presence->EndProgram();
}

void CKestrelleDlg::ToggleEnabled()
{
    m_presence->ToggleEnabled();
}

void CKestrelleDlg::RestartCheckTimer()
{
    m_presence->RestartCheckTimer();
}

void CKestrelleDlg::UpdateNextCheck()
{
    m_presence->UpdateNextCheck();
}

void CKestrelleDlg::MinimizeToTray()
{
    // Minimising again from here must not come back as one more request.
    m_bPuttingAway = true;
    m_bMinimized = true;
    m_presence->MinimizeToTray();
    m_bPuttingAway = false;
}

void CKestrelleDlg::RestoreFromTray()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
    m_bMinimized = false;
    m_presence->Restored();
}

void CKestrelleDlg::reject()
{
    // Escape and the close box put the window away; the program goes on.
    MinimizeToTray();
}

void CKestrelleDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || m_bPuttingAway)
        return;
    if (isMinimized()) {
        MinimizeToTray();
    } else if (m_bMinimized && isVisible()) {
        // Brought back from the task bar, where no tray could do it.
        m_bMinimized = false;
        m_presence->Restored();
    }
}
