#pragma once

#include "net/FetchWaiter.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The core's waiter: sleeps on a condition variable, uses no CPU while
// waiting. A wake counter means a Wake that comes before the sleep is not lost.
class ConditionWaiter : public FetchWaiter
{
public:
    void Wait(const std::function<bool()>& ready) override;
    void Wake() override;
    bool MayTransferHere() const override { return true; }

private:
    std::mutex m_mutex;
    std::condition_variable m_woken;
    std::uint64_t m_wakes = 0;
};
