#include "app/CKestrelleApp.h"

#include "monitor/AlertChain.h"
#include "monitor/CertificateNotices.h"
#include "monitor/MailAlert.h"
#include "ui/BalloonAlert.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSplashDlg.h"
#include "ui/FlashAlert.h"
#include "ui/TrayPresence.h"

#include <QCoreApplication>

// A down site's balloon, its e-mail, then the sound and the flashing while
// the window is put away. The balloon and the e-mail also tell of sites back
// up and of certificates about to run out, sharing the notes of what was
// told of those.
struct CKestrelleApp::AlertSteps
{
    explicit AlertSteps(CKestrelleDlg& window)
        : balloon(window.Tray(), [&window](EntryId id) { window.AskLogIn(id); }),
          flash(window.Presence(), window.Tray(), window.Sound())
    {
        balloon.SetCertificateNotices(&certificates);
        mail.SetCertificateNotices(&certificates);
        window.Alerts().Add(balloon);
        window.Alerts().Add(mail);
        window.Alerts().Add(flash);
    }

    CertificateNotices certificates;
    BalloonAlert balloon;
    MailAlert mail;
    FlashAlert flash;
};

CKestrelleApp::CKestrelleApp() = default;

CKestrelleApp::~CKestrelleApp() = default;

bool CKestrelleApp::InitInstance(const QStringList& arguments)
{
    if (!m_instance.Claim())
        return false;
    // Only the first argument counts, compared byte for byte.
    if (arguments.size() > 1 && arguments.at(1).toUtf8() == kUninstallOption)
        return false;

    m_dlg = std::make_unique<CKestrelleDlg>();
    m_alertSteps = std::make_unique<AlertSteps>(*m_dlg);
    if (arguments.size() <= 1) {
        m_splash = std::make_unique<CSplashDlg>();
        m_splash->ShowFor(CSplashDlg::kShowMs);
    }
    m_dlg->OnInitDialog();
    m_dlg->Presence().Place();
    // Put away at start only into a tray (or minimised where none is);
    // every other stored state shows the window.
    if (m_dlg->Presence().ShowAtStart())
        m_dlg->show();

    QObject::connect(&m_instance, &SingleInstance::RestoreRequested, m_dlg.get(),
                     &CKestrelleDlg::RestoreFromTray);
    // Logging out ends the program as Exit does, without the question.
    QObject::connect(&m_sessionEnd, &SessionEnd::Ending, m_dlg.get(), &CKestrelleDlg::EndProgram);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_dlg.get(), &CKestrelleDlg::EndProgram);
    return true;
}
