#include "ui/CKestrelleDlg.h"

#include "monitor/AlertChain.h"
#include "monitor/CheckPass.h"
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/PassMetrics.h"
#include "monitor/SiteList.h"
#include "net/FetchOutcome.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/FreedMemory.h"
#include "platform/UserMessage.h"
#include "settings/COptionsDlg.h"
#include "ui/AlertSound.h"
#include "ui/CAboutDlg.h"
#include "ui/CAddSiteDlg.h"
#include "ui/CCredentialsDlg.h"
#include "ui/CCredentialsPrompt.h"
#include "ui/CHistoryDlg.h"
#include "ui/COptionsWindow.h"
#include "ui/CSiteListCtrl.h"
#include "ui/CSystemTray.h"
#include "ui/CUpgradeDlg.h"
#include "ui/CheckScheduler.h"
#include "ui/FlashAlertThread.h"
#include "ui/NetworkWatch.h"
#include "ui/PassWorker.h"
#include "ui/ProgramEnd.h"
#include "ui/SiteListModel.h"
#include "ui/SleepWatcher.h"
#include "ui/TrayHost.h"
#include "ui/TrayPresence.h"
#include "ui/UiThread.h"
#include "ui_KestrelleDlg.h"

#include <QTimer>

#include <cstdlib>
#include <sstream>

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

// What a check pass works on. The pass thread is joined before any of it
// goes.
struct CKestrelleDlg::Monitor : CheckPass::Observer
{
    Monitor(std::string dataFile, CKestrelleDlg& window)
        : saver(std::move(dataFile)), pass(list, &saver, alerts), window(window)
    {
        pass.SetObserver(this);
        pass.SetRecorder(&history);
    }

    void PassStarted() override
    {
        // Read anew each pass, like the metrics file, so Options needs no restart.
        pass.SetCertificateWarnDays(COptionsDlg().m_iCertWarnDays);
        metrics.PassStarted();
        offline = false;
    }
    void RowChecked(const CheckPass::RowResult& result) override { metrics.RowChecked(result); }
    void PassOffline() override { offline = true; }

    // Read anew for each pass, so a change in the Options needs no restart.
    void TakeSettings()
    {
        const COptionsDlg settings;
        pass.SetParallelChecks(settings.m_iParallelChecks);
        pass.SetConfirmSeconds(settings.m_iConfirmSeconds);
    }

    // The sites asked for by the user's log-ins, each checked once.
    void CheckAskedSites()
    {
        TakeSettings();
        std::vector<EntryId> ids;
        {
            std::lock_guard lock(askedMutex);
            ids.swap(askedSites);
        }
        for (const EntryId id : ids)
            pass.CheckSite(id);
    }

    void PassEnded(bool saved) override
    {
        // The setting is read anew each time, so a change needs no restart.
        // An offline pass has no figures of the sites: the file keeps the last.
        const std::string metricsFile = offline ? std::string() : COptionsDlg().m_MetricsFile;
        std::string error;
        if (!metricsFile.empty() && !metrics.Write(metricsFile, error))
            std::fprintf(stderr, "Kestrelle: cannot write the metrics to %s: %s\n",
                         metricsFile.c_str(), error.c_str());
        CKestrelleDlg* target = &window;
        RunOnUi(target, [target, saved, offline = offline] {
            target->SetOffline(offline);
            Q_EMIT target->PassEnded(saved);
        });
    }

    SiteList list;
    DataFileSaver saver;
    AlertChain alerts;
    HistoryRecorder history;
    PassMetrics metrics;
    CheckPass pass;
    CKestrelleDlg& window;
    std::mutex askedMutex;
    std::vector<EntryId> askedSites;
    bool offline = false; // of the pass under way; on the pass's thread
};

CKestrelleDlg::CKestrelleDlg(std::unique_ptr<TrayHost> trayHost, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CKestrelleDlg>()),
      m_monitor(std::make_unique<Monitor>(AppPaths::DataFile(), *this)),
      m_tray(std::make_unique<CSystemTray>(std::move(trayHost))),
      m_scheduler(std::make_unique<CheckScheduler>()), m_sleep(std::make_unique<SleepWatcher>()),
      m_network(std::make_unique<NetworkWatch>()), m_sound(std::make_unique<AlertSound>([this] {
          return AlertSound::Choice{m_Options.m_PlaySound != 0, m_Options.m_WavPathname};
      })),
      m_presence(std::make_unique<TrayPresence>(*this, *m_tray)),
      m_upgradeDlg(std::make_unique<CUpgradeDlg>()),
      m_passes(std::make_unique<PassWorker>([monitor = m_monitor.get()] {
          monitor->TakeSettings();
          monitor->pass.CheckSites();
      })),
      m_siteChecks(std::make_unique<PassWorker>(
          [monitor = m_monitor.get()] { monitor->CheckAskedSites(); })),
      m_memoryReturn(std::make_unique<PassWorker>([] { FreedMemory::ReturnToSystem(); }))
{
    m_ui->setupUi(this);
    m_model = std::make_unique<SiteListModel>(m_monitor->list);
    // Entries another program added to the file or removed from it join
    // the list on this thread, where its rows change.
    m_monitor->saver.SetChangeNotice(
        [this] { RunOnUi(this, [this] { m_monitor->saver.TakeChanges(m_monitor->list); }); });
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
    // they let go of goes back to the system once the pass is over and the
    // list has taken its last rows. Off this thread: handing back a hundred
    // megabytes takes long enough to be felt in the window.
    connect(this, &CKestrelleDlg::PassEnded, this, [this] { m_memoryReturn->Request(); });
    connect(this, &CKestrelleDlg::PassEnded, this, [this] {
        m_ui->labelHistoryState->setVisible(!m_monitor->history.Available());
        m_ui->labelHistoryState->setToolTip(QString::fromStdString(m_monitor->history.Problem()));
    });

    connect(m_tray.get(), &CSystemTray::Command, this, &CKestrelleDlg::OnTrayCommand);
    connect(m_scheduler.get(), &CheckScheduler::Due, this, [this] {
        CheckSites();
        UpdateNextCheck();
    });
    connect(m_sleep.get(), &SleepWatcher::Resumed, m_scheduler.get(), &CheckScheduler::OnResumed);
    // Passes go on while offline (NetworkManager may be wrong, and a site
    // that answers says more than it); the label says so at once, and the
    // network's return is checked at once.
    m_monitor->pass.SetProbe(m_network.get());
    connect(m_network.get(), &NetworkWatch::WentOffline, this, [this] { SetOffline(true); });
    connect(m_network.get(), &NetworkWatch::CameBack, this, &CKestrelleDlg::CheckSites);
    ProgramEnd::SetClosingSteps([this] { CloseDown(); });
}

CKestrelleDlg::~CKestrelleDlg()
{
    m_monitor->saver.SetChangeNotice({});
    ProgramEnd::SetClosingSteps({});
    // The events served while a pass under way ends must not ask for more
    // passes, nor tell listeners of a window that is going.
    m_scheduler->Stop();
    m_bClosing = true;
    blockSignals(true);
    // No pass may start a flash or reach the tray once they begin to go.
    m_siteChecks.reset();
    m_passes.reset();
    FlashAlertThread::StopAndWait();
}

void CKestrelleDlg::KeepColumnWidths()
{
    // Widths the user dragged come back at the next start; the fitted ones
    // are never stored, so a new font still gets columns that fit it.
    std::vector<int> widths;
    std::stringstream stored(m_Options.m_ListColumns);
    for (std::string width; std::getline(stored, width, ',');)
        widths.push_back(std::atoi(width.c_str()));
    m_ui->listSites->SetColumnWidths(widths);
    // A drag sends many resizes: the last one is stored, a moment later.
    auto* store = new QTimer(this);
    store->setSingleShot(true);
    store->setInterval(500);
    connect(store, &QTimer::timeout, this, [this] {
        std::string text;
        for (int width : m_ui->listSites->ColumnWidths())
            text += (text.empty() ? "" : ",") + std::to_string(width);
        m_Options.m_ListColumns = text;
        COptionsDlg::StoreValue(&COptionsDlg::m_ListColumns, text);
    });
    connect(m_ui->listSites, &CSiteListCtrl::ColumnWidthsChanged, store,
            qOverload<>(&QTimer::start));
}

void CKestrelleDlg::OnInitDialog()
{
    KESTRELLE_ASSERT_UI_THREAD();
    m_ui->listSites->SetSiteModel(m_model.get());
    KeepColumnWidths();
    m_tray->Create(CSystemTray::kTipLoading, CSystemTray::kIconNormal);
    m_tray->SetDefaultMenuItem(1);
    m_presence->ApplyStoredMinimized();
    LoadSites();
    CheckSites();
    m_scheduler->Start(m_Options.m_Minutes);
    UpdateNextCheck();
    m_tray->ShowStateTip();
}

void CKestrelleDlg::OnTrayCommand(int commandId)
{
    switch (commandId) {
    case CSystemTray::kCmdAbout:
        OnAbout();
        break;
    case CSystemTray::kCmdRestore:
        RestoreFromTray();
        break;
    case CSystemTray::kCmdEnabled:
        ToggleEnabled();
        break;
    case CSystemTray::kCmdHelp:
        OnHelp();
        break;
    case CSystemTray::kCmdUpgrade:
        OnUpgrade();
        break;
    case CSystemTray::kCmdExit:
        ExitProgram();
        break;
    default:
        break;
    }
}

bool CKestrelleDlg::IsMinimized() const
{
    return m_presence->HiddenInTray();
}

void CKestrelleDlg::LoadSites()
{
    // A list that did not load whole is not saved over; the user is told.
    if (!m_monitor->saver.Load(m_monitor->list))
        UserMessage::Show(m_monitor->saver.LoadProblem(), UserMessage::Icon::Exclamation);
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
    if (!m_bClosing)
        m_passes->Request();
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
    const int row = std::max(m_ui->listSites->SelectedRow(), 0);
    const EntryId id = m_monitor->list.IdAt(row);
    if (id == 0)
        return; // an empty list has no row to edit
    // A site that wants a log-in is opened to give it; the prompt's Edit
    // Site leads on to the site's own dialog.
    if (!AskLogIn(id))
        EditEntry(id);
}

bool CKestrelleDlg::AskLogIn(std::uint64_t id)
{
    KESTRELLE_ASSERT_UI_THREAD();
    SiteList& list = m_monitor->list;
    const auto prompt = CCredentialsPrompt::Installed();
    const int row = list.RowOf(id);
    if (!prompt || row < 0 || list.Reason(row) != FetchOutcome::kNeedsLogIn)
        return false;
    const std::string url = list.Text(row, SiteEntry::Url);
    const auto need = prompt->NeedOf(url);
    if (!need)
        return false;
    if (const QPointer<CCredentialsDlg> open = m_logInPrompts[id]) {
        open->raise();
        open->activateWindow();
        return true;
    }
    auto* dialog = new CCredentialsDlg(
        CheckPass::SiteName(url), need->realm,
        prompt->KeyringState() != CCredentialsPrompt::Keyring::Unavailable, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetUser(need->user);
    m_logInPrompts[id] = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, id, url, prompt](int result) {
        m_logInPrompts.erase(id);
        if (result == CCredentialsDlg::kEditSite) {
            EditEntry(id);
        } else if (result == QDialog::Accepted) {
            prompt->Give(url, {dialog->User(), dialog->Password()}, dialog->Remember());
            {
                std::lock_guard lock(m_monitor->askedMutex);
                m_monitor->askedSites.push_back(id);
            }
            if (!m_bClosing)
                m_siteChecks->Request();
        }
    });
    dialog->show();
    // One balloon opens the prompts of several sites: each is set down a
    // little below and to the right of the ones open, not exactly on them.
    const auto open =
        std::count_if(m_logInPrompts.begin(), m_logInPrompts.end(),
                      [dialog](const auto& p) { return p.second && p.second != dialog; });
    if (open > 0)
        dialog->move(dialog->pos() + QPoint(32, 32) * static_cast<int>(open));
    dialog->raise();
    dialog->activateWindow();
    return true;
}

void CKestrelleDlg::EditEntry(std::uint64_t id)
{
    SiteList& list = m_monitor->list;
    const int row = list.RowOf(id);
    if (row < 0)
        return;
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
    // The version the About box shows is the one compared with the upgrade
    // page's, so a page announcing this very version offers nothing.
    m_upgradeDlg->SetUpgradeInfo("Kestrelle", static_cast<float>(KESTRELLE_VERSION_NUMBER),
                                 KESTRELLE_UPGRADE_URL);
    m_upgradeDlg->DoModal(this);
}

void CKestrelleDlg::OnAbout()
{
    CAboutDlg(this).exec();
}

void CKestrelleDlg::ExitProgram()
{
    if (UserMessage::Show(kExitQuestion, UserMessage::Icon::Question,
                          UserMessage::Buttons::YesNo) != UserMessage::Answer::Yes)
        return;
    EndProgram();
}

void CKestrelleDlg::EndProgram()
{
    ProgramEnd::Now();
}

void CKestrelleDlg::CloseDown()
{
    KESTRELLE_ASSERT_UI_THREAD();
    FlashAlertThread::StopAndWait();
    m_scheduler->Stop();
    m_presence->KeepGeometry();
    m_tray->RemoveIcon();
    // A pass, a mail or a fetch still running is simply ended with the
    // process; a save already asked for is finished first, so the file is
    // whole and current.
    m_monitor->saver.Flush();
}

void CKestrelleDlg::ToggleEnabled()
{
    KESTRELLE_ASSERT_UI_THREAD();
    const bool wasOn = m_tray->MonitoringOn();
    m_tray->SetMonitoringOn(!wasOn);
    if (wasOn)
        m_scheduler->Stop();
    else
        m_scheduler->Start(m_Options.m_Minutes);
    UpdateNextCheck();
    m_tray->SetIconById(wasOn ? CSystemTray::kIconDisabled : CSystemTray::kIconNormal);
}

void CKestrelleDlg::RestartCheckTimer()
{
    // While monitoring is off no timer runs: the new interval counts from
    // the moment it is switched on again, and label and icon keep saying off.
    if (m_tray->MonitoringOn())
        m_scheduler->Start(m_Options.m_Minutes);
    UpdateNextCheck();
}

void CKestrelleDlg::UpdateNextCheck()
{
    const bool enabled = m_tray->MonitoringOn();
    m_ui->labelNextCheck->setText(QString::fromStdString(
        enabled && m_bOffline
            ? std::string(CheckScheduler::kOfflineText)
            : CheckScheduler::NextCheckText(enabled, Clock::Now(), m_Options.m_Minutes)));
}

void CKestrelleDlg::SetOffline(bool offline)
{
    if (offline == m_bOffline)
        return;
    m_bOffline = offline;
    UpdateNextCheck();
    // The window is mostly put away: the tray's tip says it too.
    m_tray->SetStateTip(offline ? CheckScheduler::kOfflineText : CSystemTray::kTipRunning);
}

void CKestrelleDlg::MinimizeToTray()
{
    // Minimising again from here must not come back as one more request.
    m_bPuttingAway = true;
    m_presence->MinimizeToTray();
    m_bPuttingAway = false;
}

void CKestrelleDlg::RestoreFromTray()
{
    m_presence->BeforeShow();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
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
    } else if (m_presence->HiddenInTray() && isVisible()) {
        // Brought back from the task bar, where no tray could do it.
        m_presence->Restored();
    }
}
