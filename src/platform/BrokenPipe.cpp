#include "platform/BrokenPipe.h"

#include <csignal>

void BrokenPipe::IgnoreForProcess()
{
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}
