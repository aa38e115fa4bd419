#include "ui/CUpgradeDlg.h"

#include "platform/AppPaths.h"
#include "ui/CUpgradeProgressDlg.h"
#include "ui/ProgramEnd.h"
#include "ui_UpgradeDlg.h"
#include "upgrade/UpgradeInstall.h"

#include <QCoreApplication>
#include <QDialog>
#include <QEvent>
#include <QPushButton>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::string& ProgramDirForTests()
{
    static std::string folder;
    return folder;
}

// Its close requests go to the dialog object, which decides whether the
// window may go now or after the running check.
class UpgradeWindow : public QDialog
{
public:
    // A fixed dialog: a close button, nothing to minimise or maximise.
    UpgradeWindow(QWidget* parent, CUpgradeDlg& owner)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
          m_owner(owner)
    {
    }
    void reject() override { m_owner.OnCancel(); }

private:
    CUpgradeDlg& m_owner;
};

// The installer download under way, so that ending the program during it
// (std::exit, or a quit of the application) stops the transfer and leaves
// no file behind.
class RunningDownload : public QObject
{
public:
    RunningDownload(CPageFetcher& fetcher, std::string folder)
    {
        static std::once_flag once;
        std::call_once(once, [] { std::atexit(&RunningDownload::AtExit); });
        std::lock_guard lock(s_mutex);
        s_fetcher = &fetcher;
        s_folder = std::move(folder);
        if (QCoreApplication::instance())
            QCoreApplication::instance()->installEventFilter(this);
    }
    ~RunningDownload() override
    {
        std::lock_guard lock(s_mutex);
        s_fetcher = nullptr;
        s_folder.clear();
    }

    bool Quitting() const { return m_quitting; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object == QCoreApplication::instance() && event->type() == QEvent::Quit) {
            m_quitting = true;
            std::lock_guard lock(s_mutex);
            if (s_fetcher)
                s_fetcher->Cancel();
        }
        return false;
    }

private:
    static void AtExit()
    {
        std::lock_guard lock(s_mutex);
        if (s_fetcher)
            s_fetcher->Cancel();
        UpgradeInstall::RemoveFolder(s_folder);
    }

    static inline std::mutex s_mutex;
    static inline CPageFetcher* s_fetcher = nullptr;
    static inline std::string s_folder;
    bool m_quitting = false;
};

std::string TwoDecimals(float value)
{
    // "%.2f" without the process locale, which may write a decimal comma.
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                   std::chars_format::fixed, 2);
    return std::string(text, end.ec == std::errc{} ? end.ptr : text);
}

} // namespace

CUpgradeDlg::CUpgradeDlg() = default;

CUpgradeDlg::~CUpgradeDlg() = default;

void CUpgradeDlg::SetUpgradeInfo(const std::string& productName, float version,
                                 const std::string& pageUrl)
{
    m_strProductName = productName;
    m_fVersion = version;
    m_strPageUrl = pageUrl;
}

int CUpgradeDlg::DoModal(QWidget* parent)
{
    // The tray menu stays reachable while the dialog is open: asking again
    // brings the open dialog forward instead of building a second window
    // over the first one's running check.
    if (m_window) {
        m_window->raise();
        m_window->activateWindow();
        return QDialog::Rejected;
    }
    m_window = std::make_unique<UpgradeWindow>(parent, *this);
    m_ui = std::make_unique<Ui::UpgradeDlg>();
    m_ui->setupUi(m_window.get());
    m_window->setObjectName("CUpgradeDlg");
    QObject::connect(m_ui->IDOK, &QPushButton::clicked, m_window.get(), [this] { OnOK(); });
    QObject::connect(m_ui->IDCANCEL, &QPushButton::clicked, m_window.get(), [this] { OnCancel(); });
    m_bCloseWhenDone = false;
    const int result = m_window->exec();
    m_ui.reset();
    m_window.reset();
    return result;
}

void CUpgradeDlg::OnOK()
{
    // A click that comes while a check's transfer is still waited for
    // would start a second check inside the first.
    if (m_bChecking || !m_window)
        return;
    m_bChecking = true;
    bool endDialog = false;
    std::string failure; // why the page could not be read, if it could not
    {
        auto progress = std::make_unique<CUpgradeProgressDlg>(m_window.get());
        progress->ShowNormal();
        m_pRunningFetch = &m_fetcher;
        // The page names the installer: an https page read over plain http
        // after a redirect could name anybody's.
        m_fetcher.SetSecureOnly(true);
        m_fetcher.Fetch(m_strPageUrl, "");
        const auto lines = m_fetcher.Pieces();
        failure = m_fetcher.Outcome().failure;
        m_pRunningFetch = nullptr;
        if (!m_bCloseWhenDone) {
            const std::string linkBefore = m_strDownloadLink;
            ParseUpgradePage(lines);
            if (m_strDownloadLink != linkBefore)
                m_strLinkPageUrl = m_strPageUrl;
        }
        progress->hide();
    }
    if (m_bCloseWhenDone) {
        // Closed while the page was read: nothing more to say.
        endDialog = true;
    } else if (!failure.empty()) {
        // A page that never came says nothing about versions: saying "the
        // most recent version" here would report a failure as success.
        Message("Kestrelle",
                "Kestrelle could not check for an upgrade: " + failure +
                    ".\n\nYou can look for the latest version at " + std::string(kDownloadPage) +
                    ".",
                UserMessage::Icon::Exclamation, UserMessage::Buttons::Ok);
    } else if (m_fPageVersion > m_fVersion) {
        const std::string text = "A new upgrade of " + m_strProductName +
                                 " is available for download.\n\nDescription:\n\n" +
                                 m_strDescription +
                                 "\n\nWould you like to download the upgrade now?";
        if (Message("A new upgrade is available.", text, UserMessage::Icon::None,
                    UserMessage::Buttons::YesNo) == UserMessage::Answer::Yes)
            InstallUpgrade(m_strDownloadLink);
        else
            endDialog = true;
    } else {
        Message(m_strProductName,
                "You have the most recent version v" + TwoDecimals(m_fVersion) +
                    ".\nNo upgrade is available.",
                UserMessage::Icon::None, UserMessage::Buttons::Ok);
    }
    m_ui->IDOK->setEnabled(false);
    m_ui->IDCANCEL->setFocus();
    m_bChecking = false;
    if (endDialog || m_bCloseWhenDone)
        m_window->done(QDialog::Rejected);
}

void CUpgradeDlg::OnCancel()
{
    if (!m_window)
        return;
    if (m_bChecking) {
        m_bCloseWhenDone = true;
        if (m_pRunningFetch)
            m_pRunningFetch->Cancel();
        return;
    }
    m_window->done(QDialog::Rejected);
}

void CUpgradeDlg::InstallUpgrade(const std::string& downloadLink)
{
    auto progress = std::make_unique<CUpgradeProgressDlg>(m_window.get());
    progress->setWindowTitle("Upgrading Software");
    progress->ShowNormal();

    const std::string refusal = UpgradeInstall::RefusalReason(m_strLinkPageUrl, downloadLink);
    if (!refusal.empty()) {
        std::fprintf(stderr, "Kestrelle: upgrade not downloaded: %s\n", refusal.c_str());
        DownloadFailed();
        return;
    }
    const std::string folder = UpgradeInstall::MakePrivateFolder();
    if (folder.empty()) {
        std::fprintf(stderr,
                     "Kestrelle: upgrade not downloaded: no private folder could be made\n");
        DownloadFailed();
        return;
    }
    const std::string installer = folder + "/" + UpgradeInstall::kInstallerName;
    {
        CPageFetcher fetcher;
        fetcher.SetSecureOnly(true);
        RunningDownload running(fetcher, folder);
        m_pRunningFetch = &fetcher;
        fetcher.Fetch(downloadLink, installer, [window = progress.get()](const std::string& text) {
            window->SetProgressText(text);
        });
        m_pRunningFetch = nullptr;
        if (m_bCloseWhenDone || running.Quitting()) {
            // The user stopped it: no failure to report, nothing to keep.
            UpgradeInstall::RemoveFolder(folder);
            return;
        }
    }
    if (!UpgradeInstall::Exists(installer)) {
        DownloadFailed();
        UpgradeInstall::RemoveFolder(folder);
        return;
    }

    progress->SetText("Removing old version ..");
    const std::string programDir =
        ProgramDirForTests().empty() ? AppPaths::ExecutableDir() : ProgramDirForTests();
    const std::string uninstaller = programDir + "/" + UpgradeInstall::kUninstallerName;
    // A missing uninstaller means nothing old to remove (or a copy that was
    // never installed): the installer still runs.
    if (UpgradeInstall::Exists(uninstaller))
        UpgradeInstall::RunAndWait(uninstaller, UpgradeInstall::kUninstallerArgument, programDir);
    UpgradeInstall::MakeRunnable(installer);
    UpgradeInstall::RunAndWait(installer, "", folder);
    progress.reset();
    UpgradeInstall::RemoveFolder(folder);

    // Ends the program the way Exit does: flashing, timer and icon stopped,
    // the list's last save finished.
    ProgramEnd::Now();
}

void CUpgradeDlg::DownloadFailed()
{
    Message("Kestrelle",
            "There was a problem while downloading the update for your software. Your current "
            "version is still installed.\n\nYou can manually upgrade your software by visiting " +
                std::string(kDownloadPage) +
                " and clicking Download Evaluation to obtain the latest version.",
            UserMessage::Icon::Information, UserMessage::Buttons::Ok);
}

UserMessage::Answer CUpgradeDlg::Message(const std::string& title, const std::string& text,
                                         UserMessage::Icon icon, UserMessage::Buttons buttons)
{
    // The description comes from a web page: every box shows its text as
    // the text it is, never as markup.
    return UserMessage::Show({text, icon, buttons, title});
}

void CUpgradeDlg::SetProgramDirForTests(const std::string& folder)
{
    ProgramDirForTests() = folder;
}
