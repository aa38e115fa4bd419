#pragma once

#include <functional>
#include <mutex>

// Lets one check pass run at a time and folds the requests that arrive while
// it runs into one more pass. The timer, Check Now and the first pass at
// start-up can all ask at once, and a timer pass can even ask again from
// inside itself while its fetch waits in a nested event loop; without the
// gate those passes would write the same rows and the same file together.
//
// The pass runs on the thread whose request found the gate free; that thread
// also runs the one extra pass owed to the requests it turned away, so a
// request never waits for a pass and is never lost.
class PassGate
{
public:
    // Runs `pass` now, then once more if any request arrived meanwhile, and
    // so on until none is owed; returns true. When a pass is already running
    // (on any thread, this one included), remembers the request and returns
    // false at once. An exception from `pass` leaves the gate free, owing
    // nothing, and is passed on to the caller: the next request runs one
    // pass.
    bool Run(const std::function<void()>& pass);

    // True while a pass runs.
    bool Busy() const;

private:
    mutable std::mutex m_mutex;
    bool m_running = false;
    bool m_owed = false;
};
