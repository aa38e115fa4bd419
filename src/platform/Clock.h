#pragma once

#include <ctime>

// The program's one source of "now" for time stamps shown to the user or
// mailed. Tests pin it to a fixed instant instead of waiting for the clock.
class Clock
{
public:
    static std::time_t Now();

    // A fixed instant for tests; 0 returns to the system clock.
    static void SetFixedForTests(std::time_t fixed);
};
