#include "platform/Clock.h"

#include <atomic>

namespace {
std::atomic<std::time_t> g_fixedNow{0};
}

std::time_t Clock::Now()
{
    const std::time_t fixed = g_fixedNow.load(std::memory_order_acquire);
    return fixed != 0 ? fixed : std::time(nullptr);
}

void Clock::SetFixedForTests(std::time_t fixed)
{
    g_fixedNow.store(fixed, std::memory_order_release);
}
