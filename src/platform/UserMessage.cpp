#include "platform/UserMessage.h"

#include <cstdio>
#include <mutex>

namespace {
std::mutex g_mutex;
UserMessage::Handler g_handler;
} // namespace

UserMessage::Answer UserMessage::Show(const std::string& text, Icon icon, Buttons buttons)
{
    Handler handler;
    {
        std::lock_guard lock(g_mutex);
        handler = g_handler;
    }
    if (handler)
        return handler(text, icon, buttons);
    std::fprintf(stderr, "Kestrelle: %s\n", text.c_str());
    // Nobody can be asked: a headless question is answered No, so nothing
    // irreversible happens without a person.
    return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
}

UserMessage::Handler UserMessage::SetHandler(Handler handler)
{
    std::lock_guard lock(g_mutex);
    Handler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}
