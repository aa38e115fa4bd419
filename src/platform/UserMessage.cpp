#include "platform/UserMessage.h"

#include <cstdio>
#include <mutex>

namespace {
// Never destroyed: a check pass on a worker thread may still show a message
// while the process ends and static objects are torn down.
struct State
{
    std::mutex mutex;
    UserMessage::Handler handler;
};

State& TheState()
{
    static State* state = new State;
    return *state;
}
} // namespace

UserMessage::Answer UserMessage::Show(const Box& box)
{
    Handler handler;
    {
        State& state = TheState();
        std::lock_guard lock(state.mutex);
        handler = state.handler;
    }
    if (handler)
        return handler(box);
    std::fprintf(stderr, "Kestrelle: %s\n", box.text.c_str());
    // Nobody can be asked: a headless question is answered No, so nothing
    // irreversible happens without a person.
    return box.buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

UserMessage::Handler UserMessage::SetHandler(Handler handler)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    Handler previous = std::move(state.handler);
    state.handler = std::move(handler);
    return previous;
}
