#pragma once

#include <cstdint>

// Milliseconds on a clock that never jumps with the wall clock and keeps
// counting while the computer sleeps, so a check that fell due during a
// sleep is seen as due on waking.
class BootClock
{
public:
    static std::int64_t Milliseconds();
};
