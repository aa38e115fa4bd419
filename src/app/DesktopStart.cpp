#include "app/DesktopStart.h"

#include "app/CKestrelleApp.h"
#include "monitor/DataFileSaver.h"
#include "platform/BrokenPipe.h"
#include "ui/CCredentialsPrompt.h"
#include "ui/CKestrelleDlg.h"
#include "ui/DesktopMessageBox.h"
#include "ui/EventLoopWaiter.h"

#include <QApplication>

int DesktopStart::Run(int argc, char** argv)
{
    BrokenPipe::IgnoreForProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrelle"));
    // The program ends through Exit only; putting its window away is not
    // the end.
    QApplication::setQuitOnLastWindowClosed(false);

    DesktopMessageBox::Install();
    EventLoopWaiter::Install();
    CCredentialsPrompt::Install();

    CKestrelleApp kestrelle;
    if (!kestrelle.InitInstance(QCoreApplication::arguments()))
        return 0;
    const int code = app.exec();
    // Every change is saved when it is made; what is still being written
    // must reach the disk before the process goes.
    kestrelle.MainWindow()->Saver().Flush();
    return code;
}
