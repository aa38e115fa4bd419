#include "app/DesktopStart.h"

#include "app/CKestrelleApp.h"
#include "platform/BrokenPipe.h"
#include "ui/CCredentialsPrompt.h"
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
    // The program ends through ProgramEnd, from inside the event loop.
    return app.exec();
}
