#include "monitor/OfflineHold.h"

#include "monitor/NetworkProbe.h"
#include "net/FetchAddress.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

bool IsLoopbackHost(std::string host)
{
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!host.empty() && host.back() == '.')
        host.pop_back();
    if (host == "localhost" || host == "[::1]" ||
        (host.size() > 10 && host.compare(host.size() - 10, 10, ".localhost") == 0))
        return true;
    // 127.0.0.0/8 written as a dotted address.
    if (host.rfind("127.", 0) != 0)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return c == '.' || std::isdigit(static_cast<unsigned char>(c));
    });
}

} // namespace

OfflineHold::Kind OfflineHold::KindOf(const FetchOutcome& outcome, const std::string& url)
{
    const auto parts = FetchAddress::Split(FetchAddress::FullAddress(url));
    if (!parts || IsLoopbackHost(parts->server))
        return Kind::Neutral;
    switch (outcome.reach) {
    case FetchOutcome::Reach::Unreached:
        return Kind::Unreached;
    case FetchOutcome::Reach::Reached:
        return Kind::Reached;
    case FetchOutcome::Reach::Untried:
        break;
    }
    return Kind::Neutral;
}

void OfflineHold::Begin()
{
    std::lock_guard lock(m_mutex);
    m_reached = false;
    m_unreached = false;
    m_held.clear();
}

std::vector<OfflineHold::Held> OfflineHold::TakeHeld()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_held, {});
}

void OfflineHold::Settle(Kind kind, std::function<void()> write, std::function<void()> restore)
{
    std::vector<Held> released;
    {
        std::lock_guard lock(m_mutex);
        if (kind == Kind::Unreached) {
            m_unreached = true;
            if (!m_reached) {
                m_held.push_back({std::move(write), std::move(restore)});
                return;
            }
        } else if (kind == Kind::Reached && !m_reached) {
            m_reached = true;
            released = std::exchange(m_held, {});
        }
    }
    // The held ones first: they ended earlier.
    for (Held& held : released)
        held.write();
    write();
}

bool OfflineHold::End(NetworkProbe& probe)
{
    bool offline = false;
    {
        std::lock_guard lock(m_mutex);
        // Asked only when it matters: the probe reads system files.
        offline = m_unreached && !m_reached && probe.Offline();
    }
    for (Held& held : TakeHeld())
        offline ? held.restore() : held.write();
    return offline;
}

void OfflineHold::Abandon()
{
    for (Held& held : TakeHeld())
        held.restore();
}
