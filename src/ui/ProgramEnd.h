#pragma once

#include <functional>

// The one way the desktop program ends, whatever ends it: the tray's Exit,
// the end of the session, a quit of the application, an installed upgrade.
// The main window's closing steps run first (flashing stopped, timer
// killed, icon removed, the saves asked for written), then the process ends
// with code 0. On the user-interface thread only.
class ProgramEnd
{
public:
    // The main window sets its closing steps for as long as it lives.
    static void SetClosingSteps(std::function<void()> steps);

    // Runs the closing steps and ends the process with code 0.
    static void Now();

    // Tests record the code instead of ending the process; an empty function
    // puts the real end back.
    static void SetExitForTests(std::function<void(int)> exitFunction);
};
