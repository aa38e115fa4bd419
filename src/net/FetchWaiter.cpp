#include "net/FetchWaiter.h"

#include "net/ConditionWaiter.h"

#include <mutex>

namespace {

// Never destroyed: a pass thread may still start a fetch while the process
// ends.
struct Registry
{
    std::mutex mutex;
    FetchWaiter::Factory factory;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

void FetchWaiter::SetFactory(Factory factory)
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.factory = std::move(factory);
}

std::unique_ptr<FetchWaiter> FetchWaiter::Make()
{
    Registry& r = TheRegistry();
    Factory factory;
    {
        std::lock_guard lock(r.mutex);
        factory = r.factory;
    }
    if (factory) {
        if (auto waiter = factory())
            return waiter;
    }
    return std::make_unique<ConditionWaiter>();
}
