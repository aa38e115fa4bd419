#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class PageTransfer;
typedef void CURLM;

// Drives page transfers on one libcurl multi handle on one thread: adds
// each transfer's handle, lets libcurl move all of them on, and tells each
// transfer when a request of it has ended. The multi handle keeps what it
// learnt (DNS answers, connections, TLS sessions) for the next transfers.
//
// A caller that would only sleep while it waits (a check pass's thread,
// the command-line checker) runs its own loop with Run. A caller that must
// keep running (a window's thread) hands the transfer to the process's
// transfer thread with Hand, whose loop takes every transfer handed to it,
// also several at once (a fetch nested in another's wait).
//
// When the process ends (exit or a return from main) while a transfer
// runs, it is cancelled, and the exit waits for it to come to rest before
// the libraries' own exit handlers run, so no transfer touches what the
// exit tears down. A transfer started after that never runs.
class TransferLoop
{
public:
    TransferLoop();
    ~TransferLoop();
    TransferLoop(const TransferLoop&) = delete;
    TransferLoop& operator=(const TransferLoop&) = delete;

    bool Usable() const { return m_multi != nullptr; }

    // Runs the transfer to its end on the calling thread. False when the
    // process is ending or the loop is running already: the transfer never ran.
    bool Run(PageTransfer& transfer);

    // For a caller that drives several transfers of its own on its own
    // thread (a check pass). Begin starts one without waiting for it; false
    // when the process is ending: it never ran and `ended` is not called
    // (otherwise `ended` is called on this thread, by Begin itself when the
    // transfer cannot even start). Step moves every transfer on, calls
    // `ended` of each that ended, and when none did waits for the network
    // or a Wake for at most `wait` (also with no transfer at all). Neither
    // may be called from inside an `ended`.
    bool Begin(PageTransfer& transfer, std::function<void()> ended);
    void Step(std::chrono::milliseconds wait);
    std::size_t Running() const { return m_active.size(); }
    // How many idle connections the loop keeps for later transfers to the
    // same servers (libcurl's own choice is four per transfer under way).
    void KeepConnections(long count);

    // Hands the transfer to the transfer thread and returns at once;
    // `ended` is called on that thread once the transfer is over. False
    // when the process is ending or no thread could be started: the
    // transfer then never runs and `ended` is not called.
    static bool Hand(PageTransfer& transfer, std::function<void()> ended);

    // Waits until a transfer handed over has ended (for a caller whose own
    // way of waiting failed).
    static void WaitEnded(PageTransfer& transfer);

    // Interrupts the loop's wait on the network. Any thread, any time.
    void Wake();

    // True once the process has begun to end.
    static bool Closing();
    // Once the process has begun to end, keeps `easy` (a transfer's handle)
    // for good instead of letting it be cleaned up, and answers true: the
    // exit may be tearing down what its cleaning up would touch.
    static bool KeepIfClosing(void* easy);

    // An idle loop for a caller's thread, and its return: a fetcher made per
    // page then neither makes a multi handle each time nor loses what one
    // learnt. Loops are kept for the process's life.
    static TransferLoop* Borrow();
    static void Return(TransferLoop* loop);

private:
    struct Entry
    {
        PageTransfer* transfer;
        std::function<void()> ended;
    };

    // Takes over what was handed, moves every transfer on, and returns
    // when `done` holds, tested after each round.
    void Drive(const std::function<bool()>& done);
    // One look at every transfer: the cancelled ones end, the others move
    // on and those that finished end. The number that ended.
    std::size_t Round();
    void Add(Entry entry);
    void End(std::size_t index, bool inMulti);
    void Close(Entry& entry, bool inMulti);
    void ThreadMain();
    static bool Admit(PageTransfer& transfer);
    static void Leave(PageTransfer& transfer);
    static void AtExit();

    CURLM* m_multi;
    std::vector<Entry> m_active; // on the loop's own thread only
    bool m_running = false;      // Run is under way
    bool m_threadless = false;   // the transfer thread's loop, whose thread did not start

    std::mutex m_mutex; // for what is handed over from other threads
    std::condition_variable m_handed;
    std::vector<Entry> m_queue;
};
