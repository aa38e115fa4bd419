#pragma once

// Starts the desktop program: the application object, the process-wide
// services the core asks the desktop for (message boxes, waiting on the
// user-interface thread), the main window and its start-up steps, then the
// event loop.
class DesktopStart
{
public:
    static int Run(int argc, char** argv);
};
