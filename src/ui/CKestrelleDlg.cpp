#include "ui/CKestrelleDlg.h"

#include "monitor/AlertChain.h"
#include "monitor/CheckPass.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/SiteList.h"
#include "platform/AppPaths.h"
#include "platform/FreedMemory.h"
#include "platform/UserMessage.h"
#include "ui/CAboutDlg.h"
#include "ui/CAddSiteDlg.h"
#include "ui/CHistoryDlg.h"
#include "ui/COptionsWindow.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CUpgradeDlg.h"
#include "ui/SiteListModel.h"
#include "ui/TrayPresence.h"
#include "ui_KestrelleDlg.h"

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QMetaObject>
#include <QUrl>

#include <algorithm>

#include <cstdio>
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
        pass.SetRecorder(&history);
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
    HistoryRecorder history;
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
    connect(m_ui->buttonAdd, &QPushButton::clicked, this, &CKestrelleDlg::AddSite);
    connect(m_ui->buttonEdit, &QPushButton::clicked, this, &CKestrelleDlg::EditSite);
    connect(m_ui->buttonRemove, &QPushButton::clicked, this, &CKestrelleDlg::RemoveSites);
    connect(m_ui->buttonHistory, &QPushButton::clicked, this, &CKestrelleDlg::OnHistory);
    connect(m_ui->buttonOptions, &QPushButton::clicked, this, &CKestrelleDlg::OnOptions);
    connect(m_ui->buttonHelp, &QPushButton::clicked, this, &CKestrelleDlg::OnHelp);
    connect(m_ui->listSites, &QAbstractItemView::doubleClicked, this, &CKestrelleDlg::EditSite);
    // Linux title bars carry no menu of the program's own: the About item
    // lives in the window's context menu instead, outside the list.
    auto* about = new QAction(tr("&About Kestrelle..."), this);
    connect(about, &QAction::triggered, this, &CKestrelleDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_ui->listSites->setContextMenuPolicy(Qt::PreventContextMenu);
    // A pass replaces every page and its save copies the whole list: what
    // they let go of goes back to the system once the pass is over.
    connect(this, &CKestrelleDlg::PassEnded, this, [] { FreedMemory::ReturnToSystem(); });
    connect(this, &CKestrelleDlg::PassEnded, this, [this] {
        m_ui->labelHistoryState->setVisible(!m_monitor->history.Available());
        m_ui->labelHistoryState->setToolTip(QString::fromStdString(m_monitor->history.Problem()));
    });

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

void CKestrelleDlg::AddSite()
{
    const COptionsDlg stored; // the address as stored at this moment
    CAddSiteDlg dialog(this);
    dialog.m_Email = stored.m_EmailAddress;
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    SiteEntry entry;
    entry.fields = {dialog.m_URL, "-", "-", dialog.m_SearchText, "-", dialog.m_Email};
    m_monitor->list.Append(std::move(entry));
    SaveSites();
}

void CKestrelleDlg::EditSite()
{
    SiteList& list = m_monitor->list;
    const int row = std::max(m_ui->listSites->SelectedRow(), 0);
    const EntryId id = list.IdAt(row);
    if (id == 0)
        return; // an empty list has no row to edit
    CAddSiteDlg dialog(this);
    dialog.m_URL = list.Text(row, SiteEntry::Url);
    dialog.m_SearchText = list.Text(row, SiteEntry::SearchText);
    dialog.m_Email = list.Text(row, SiteEntry::EmailAddress);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    // The entry, wherever it is now; gone means there is nothing to write to.
    const int now = list.RowOf(id);
    if (now < 0)
        return;
    list.SetText(now, SiteEntry::Url, dialog.m_URL);
    list.SetText(now, SiteEntry::SearchText, dialog.m_SearchText);
    list.SetText(now, SiteEntry::EmailAddress, dialog.m_Email);
    SaveSites();
}

void CKestrelleDlg::RemoveSites()
{
    std::vector<int> rows;
    if (QItemSelectionModel* selection = m_ui->listSites->selectionModel())
        for (const QModelIndex& index : selection->selectedRows())
            rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    int deleted = 0;
    for (const int row : rows) {
        if (m_monitor->list.Remove(row - deleted))
            ++deleted;
        else
            UserMessage::Show("Error deleting item from list.", UserMessage::Icon::Stop);
    }
    if (m_monitor->list.RowCount() > 0)
        m_ui->listSites->setCurrentIndex(m_model->index(0, 0));
    SaveSites();
}

void CKestrelleDlg::OnHistory()
{
    const int row = std::max(m_ui->listSites->SelectedRow(), 0);
    if (m_monitor->list.IdAt(row) == 0)
        return;
    auto* details = new CHistoryDlg(HistoryStore::DefaultPath(),
                                    m_monitor->list.Text(row, SiteEntry::Url), this);
    details->SetRecordingProblem(m_monitor->history.Problem());
    details->show();
}

void CKestrelleDlg::OnOptions()
{
    if (COptionsWindow::Run(m_Options, this) == QDialog::Accepted)
        RestartCheckTimer();
}

void CKestrelleDlg::OnHelp()
{
    // A missing page or no program for it: the desktop's own reaction, no word from us.
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(AppPaths::ProgramDataFile("Kestrelle.html"))));
}

void CKestrelleDlg::OnUpgrade()
{
    // An installed upgrade ends the program (with code 0) the way Exit
    // does: flashing, timer and icon stopped, the list's last save finished.
    CUpgradeDlg::SetExitFunction([this](int) { EndProgram(); });
    m_upgradeDlg->SetUpgradeInfo("Kestrelle", 1.0f, KESTRELLE_UPGRADE_URL);
    m_upgradeDlg->DoModal(this);
}

void CKestrelleDlg::OnAbout()
{
    CAboutDlg(this).exec();
}

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
