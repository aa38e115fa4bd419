#pragma once

#include "app/SessionEnd.h"
#include "app/SingleInstance.h"

#include <QStringList>

#include <memory>

class BalloonAlert;
class CKestrelleDlg;
class CSplashDlg;
class FlashAlert;
class MailAlert;

// The application object: one running copy per user, the command line, the
// splash, the main window with the alert steps its passes run, and its
// start-up. Whatever ends the program (Exit, the end of the session, a quit
// of the application, an installed upgrade) ends it through ProgramEnd.
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
    // The alert steps, in the order a failed check runs them. Declared
    // before the window: its passes use them until it has gone.
    struct AlertSteps;

    SingleInstance m_instance;
    SessionEnd m_sessionEnd;
    std::unique_ptr<AlertSteps> m_alertSteps;
    std::unique_ptr<CSplashDlg> m_splash;
    std::unique_ptr<CKestrelleDlg> m_dlg;
};
