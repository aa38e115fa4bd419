#pragma once

#include "net/CPageFetcher.h"
#include "platform/UserMessage.h"
#include "upgrade/UpgradePage.h"

#include <memory>
#include <string>

class QDialog;
class QWidget;
namespace Ui {
class UpgradeDlg;
}

// The "Check for Upgrade" dialog. The main window keeps one object for the
// whole run; its window exists only while DoModal runs, and what a check
// found (the page's version and download link) stays for later checks.
class CUpgradeDlg : public UpgradePage
{
public:
    CUpgradeDlg();
    ~CUpgradeDlg();
    CUpgradeDlg(const CUpgradeDlg&) = delete;
    CUpgradeDlg& operator=(const CUpgradeDlg&) = delete;

    void SetUpgradeInfo(const std::string& productName, float version, const std::string& pageUrl);
    // QDialog::Accepted or QDialog::Rejected. While the dialog is open, a
    // second call only brings it forward.
    int DoModal(QWidget* parent = nullptr);

    // "&OK": one check. Once the dialog has checked, OK stays disabled.
    void OnOK();
    // "&Close", Esc and the title bar's close button. During a transfer it
    // cancels the transfer, and the dialog closes when the check has ended.
    void OnCancel();
    // Downloads and runs the installer at `downloadLink`; once it has run
    // the program ends (ProgramEnd), so this returns only when it was not
    // installed (or in a test that records the end).
    void InstallUpgrade(const std::string& downloadLink);

    // The window while DoModal runs, else null.
    QDialog* Window() const { return m_window.get(); }

    // Where the old version's uninstaller is looked for: beside the
    // executable unless a test names another folder (empty: the executable's).
    static void SetProgramDirForTests(const std::string& folder);

    static constexpr const char* kDownloadPage = KESTRELLE_DOWNLOAD_URL;

    float m_fVersion = 0.0f;
    std::string m_strPageUrl;
    std::string m_strProductName;
    CPageFetcher m_fetcher;

private:
    static UserMessage::Answer Message(const std::string& title, const std::string& text,
                                       UserMessage::Icon icon, UserMessage::Buttons buttons);
    void DownloadFailed();

    std::unique_ptr<QDialog> m_window;
    std::unique_ptr<Ui::UpgradeDlg> m_ui;
    // The page whose download link is in m_strDownloadLink: the link is only
    // as trustworthy as the page that named it.
    std::string m_strLinkPageUrl;
    // The fetcher whose transfer runs now, for OnCancel.
    CPageFetcher* m_pRunningFetch = nullptr;
    bool m_bChecking = false;
    bool m_bCloseWhenDone = false;
};
