#pragma once

#include "app/SessionEnd.h"
#include "app/SingleInstance.h"

#include <QStringList>

#include <memory>

class CKestrelleDlg;
class CSplashDlg;

// The application object: one running copy per user, the command line, the
// splash, the main window and its start-up, and the two ways the program
// ends (Exit, and the end of the session).
class CKestrelleApp
{
public:
    static constexpr const char* kUninstallOption = "-uninstall";

    CKestrelleApp();
    ~CKestrelleApp();

    // Start-up up to the event loop. False when the process is to end now
    // with code 0: another copy runs (and was told to show its window), or
    // the only copy was started with "-uninstall". Nothing is shown, read
    // or written in those cases.
    bool InitInstance(const QStringList& arguments);

    CKestrelleDlg* MainWindow() const { return m_dlg.get(); }

private:
    SingleInstance m_instance;
    SessionEnd m_sessionEnd;
    std::unique_ptr<CSplashDlg> m_splash;
    std::unique_ptr<CKestrelleDlg> m_dlg;
};
