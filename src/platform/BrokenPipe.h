#pragma once

// A reader that goes away (`kestrelle-check | head -1`, a mail server that
// hangs up) must never end the program: the default action of SIGPIPE kills
// the process in the middle of a pass, its save and its e-mails. Both
// programs call this first thing in main; writes to a closed pipe or socket
// then fail with EPIPE like any other write, and the caller decides.
class BrokenPipe
{
public:
    static void IgnoreForProcess();
};
