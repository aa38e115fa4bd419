#include "net/FetchWaiter.h"

#include "net/ConditionWaiter.h"

#include <mutex>

namespace {
std::mutex g_mutex;
FetchWaiter::Factory g_factory;
} // namespace

void FetchWaiter::SetFactory(Factory factory)
{
    std::lock_guard lock(g_mutex);
    g_factory = std::move(factory);
}

std::unique_ptr<FetchWaiter> FetchWaiter::Make()
{
    Factory factory;
    {
        std::lock_guard lock(g_mutex);
        factory = g_factory;
    }
    if (factory) {
        if (auto waiter = factory())
            return waiter;
    }
    return std::make_unique<ConditionWaiter>();
}
