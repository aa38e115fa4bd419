#include "net/TransferLoop.h"

#include "net/FetchSettings.h"
#include "net/PageTransfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

// Every transfer between its admission and its end, for the exit. Made
// once, never destroyed: loops may still run while statics are torn down.
struct Registry
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PageTransfer*> active;
    bool closing = false;
    bool atExitSet = false;
    std::vector<TransferLoop*> idle; // for callers' threads
    std::vector<void*> kept;         // handles left to the exit
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry;
    return *registry;
}

// The loop this thread drives now, so that an exit started from inside a
// transfer (a prompt that ends the program) does not wait for itself.
thread_local TransferLoop* t_driving = nullptr;

// How long the exit waits for cancelled transfers to come to rest.
constexpr std::chrono::seconds kExitBound{2};

} // namespace

TransferLoop::TransferLoop() : m_multi(FetchSettings::CurlReady() ? curl_multi_init() : nullptr) {}

TransferLoop::~TransferLoop()
{
    // Once the process is ending the handle stays: the exit may be tearing
    // down what its cleaning up would touch.
    if (m_multi && !KeepIfClosing(m_multi))
        curl_multi_cleanup(m_multi);
}

bool TransferLoop::Closing()
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.closing;
}

bool TransferLoop::KeepIfClosing(void* easy)
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (!r.closing)
        return false;
    try {
        r.kept.push_back(easy);
    } catch (...) {
        // Unlisted, but still not cleaned up.
    }
    return true;
}

TransferLoop* TransferLoop::Borrow()
{
    Registry& r = TheRegistry();
    {
        std::lock_guard lock(r.mutex);
        if (!r.idle.empty()) {
            TransferLoop* loop = r.idle.back();
            r.idle.pop_back();
            return loop;
        }
    }
    return new TransferLoop;
}

void TransferLoop::Return(TransferLoop* loop)
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    try {
        r.idle.push_back(loop);
    } catch (...) {
        // Kept unused rather than freed: it is small, and this cannot happen
        // but for want of memory.
    }
}

void TransferLoop::Wake()
{
    if (m_multi)
        curl_multi_wakeup(m_multi);
}

bool TransferLoop::Admit(PageTransfer& transfer)
{
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    if (r.closing)
        return false;
    try {
        r.active.push_back(&transfer);
    } catch (...) {
        return false;
    }
    if (!r.atExitSet) {
        r.atExitSet = true;
        std::atexit(&TransferLoop::AtExit);
    }
    return true;
}

bool TransferLoop::Run(PageTransfer& transfer)
{
    if (m_running || !Admit(transfer))
        return false;
    m_running = true;
    TransferLoop* const outer = std::exchange(t_driving, this);
    Add({&transfer, nullptr});
    Drive([&] { return transfer.Ended(); });
    t_driving = outer;
    m_running = false;
    return true;
}

bool TransferLoop::Hand(PageTransfer& transfer, std::function<void()> ended)
{
    static TransferLoop* const loop = [] {
        auto* made = new TransferLoop; // never freed: its thread outlives every static
        try {
            std::thread(&TransferLoop::ThreadMain, made).detach();
        } catch (...) {
            made->m_threadless = true; // nothing is ever handed to it
        }
        return made;
    }();
    if (!Admit(transfer))
        return false;
    bool handed = false;
    {
        std::lock_guard lock(loop->m_mutex);
        if (!loop->m_threadless) {
            try {
                loop->m_queue.push_back({&transfer, std::move(ended)});
                handed = true;
            } catch (...) {
            }
        }
    }
    if (!handed) {
        Registry& r = TheRegistry();
        std::lock_guard lock(r.mutex);
        r.active.erase(std::find(r.active.begin(), r.active.end(), &transfer));
        return false;
    }
    loop->m_handed.notify_one();
    loop->Wake();
    return true;
}

void TransferLoop::WaitEnded(PageTransfer& transfer)
{
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
    r.changed.wait(lock, [&] { return transfer.Ended(); });
}

void TransferLoop::ThreadMain()
{
    t_driving = this;
    Drive([] { return false; });
}

void TransferLoop::Add(Entry entry)
{
    PageTransfer& transfer = *entry.transfer;
    transfer.loop.store(this, std::memory_order_release);
    try {
        m_active.push_back(entry);
    } catch (...) {
        Close(entry, false); // no room even to list it: it ends unstarted
        return;
    }
    if (transfer.Start() && curl_multi_add_handle(m_multi, transfer.Handle()) == CURLM_OK)
        return;
    End(m_active.size() - 1, false);
}

void TransferLoop::End(std::size_t index, bool inMulti)
{
    Entry entry = std::move(m_active[index]);
    m_active.erase(m_active.begin() + static_cast<std::ptrdiff_t>(index));
    Close(entry, inMulti);
}

void TransferLoop::Close(Entry& entry, bool inMulti)
{
    PageTransfer& transfer = *entry.transfer;
    if (inMulti)
        curl_multi_remove_handle(m_multi, transfer.Handle());
    transfer.Finish();
    Registry& r = TheRegistry();
    {
        std::lock_guard lock(r.mutex);
        r.active.erase(std::find(r.active.begin(), r.active.end(), &transfer));
        transfer.MarkEnded(); // the caller may drop the transfer from here on
    }
    r.changed.notify_all();
    try {
        if (entry.ended)
            entry.ended();
    } catch (...) {
        // A waiter that cannot be woken still sees Ended at its next look.
    }
}

std::size_t TransferLoop::Round()
{
    std::size_t ended = 0;
    for (std::size_t i = m_active.size(); i-- > 0;) {
        if (m_active[i].transfer->Cancelled()) {
            End(i, true);
            ++ended;
        }
    }
    if (m_active.empty())
        return ended;
    int running = 0;
    curl_multi_perform(m_multi, &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* const handle = message->easy_handle;
        const CURLcode result = message->data.result;
        const auto it = std::find_if(m_active.begin(), m_active.end(), [&](const Entry& e) {
            return e.transfer->Handle() == handle;
        });
        if (it == m_active.end())
            continue;
        PageTransfer& transfer = *it->transfer;
        curl_multi_remove_handle(m_multi, handle);
        // The next request of the same transfer (after a 401 or a
        // redirect) goes on the same handle.
        if (!transfer.Cancelled() && transfer.RequestEnded(result) &&
            curl_multi_add_handle(m_multi, handle) == CURLM_OK)
            continue;
        End(static_cast<std::size_t>(it - m_active.begin()), false);
        ++ended;
    }
    return ended;
}

void TransferLoop::Drive(const std::function<bool()>& done)
{
    for (;;) {
        std::vector<Entry> handed;
        {
            std::lock_guard lock(m_mutex);
            handed.swap(m_queue);
        }
        for (Entry& entry : handed)
            Add(std::move(entry));
        if (done())
            return;
        if (m_active.empty()) {
            // Only the transfer thread's loop gets here: it sleeps until
            // something is handed to it.
            std::unique_lock lock(m_mutex);
            m_handed.wait(lock, [&] { return !m_queue.empty(); });
            continue;
        }
        Round();
        if (done())
            return;
        // libcurl shortens this to its own next time-out; Wake ends it early.
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
}

bool TransferLoop::Begin(PageTransfer& transfer, std::function<void()> ended)
{
    if (m_running || !Admit(transfer))
        return false;
    TransferLoop* const outer = std::exchange(t_driving, this);
    Add({&transfer, std::move(ended)});
    t_driving = outer;
    return true;
}

void TransferLoop::KeepConnections(long count)
{
    if (m_multi)
        curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, count);
}

void TransferLoop::Step(std::chrono::milliseconds wait)
{
    if (m_running || !m_multi)
        return;
    m_running = true;
    TransferLoop* const outer = std::exchange(t_driving, this);
    if (Round() == 0) {
        curl_multi_poll(
            m_multi, nullptr, 0,
            static_cast<int>(std::max<long long>(0, std::min<long long>(wait.count(), 1000))),
            nullptr);
        Round();
    }
    t_driving = outer;
    m_running = false;
}

void TransferLoop::AtExit()
{
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
    r.closing = true;
    // A running transfer is reached through its own cancelled flag, which
    // its loop checks at every wake.
    for (PageTransfer* transfer : r.active)
        transfer->Cancel();
    r.changed.wait_for(lock, kExitBound, [&] {
        return std::all_of(r.active.begin(), r.active.end(), [](PageTransfer* t) {
            return t->loop.load(std::memory_order_acquire) == t_driving && t_driving;
        });
    });
}
