#pragma once

#include "monitor/CheckRecorder.h"
#include "monitor/HistoryStore.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Keeps the outcomes of check passes in the history: gathered during a pass,
// written in one transaction at its end, on the pass's thread. A history it
// cannot use (corrupt, locked for long, disk full, read-only) never stops a
// pass: it says so in one line on standard error, keeps the unwritten checks
// (up to kMaxPending, the oldest go first) and tries again after the next
// pass. Once a day it drops the checks that have grown too old.
class HistoryRecorder : public CheckRecorder
{
public:
    static constexpr size_t kMaxPending = 100000;

    explicit HistoryRecorder(std::string path = HistoryStore::DefaultPath());

    void Record(const CheckRecord& record) override;
    void PassFinished() override;
    // From the history file, then from the checks not yet written to it.
    std::time_t OutageStart(const std::string& siteKey) override;
    // The same way.
    std::string LastReason(const std::string& siteKey) override;

    // False from a failed write until a write succeeds. Any thread.
    bool Available() const { return m_available; }
    // The last failure in one line; empty while available.
    std::string Problem() const;

private:
    // The connection the questions of a pass read through: opened at the
    // first, closed at the pass's end, so that a thousand sites back up
    // after a start open the file once, and a file mended or replaced
    // between passes is read afresh. Null when the file cannot be read.
    // Under m_readerMutex.
    HistoryStore* Reader();

    std::mutex m_readerMutex;
    std::unique_ptr<HistoryStore> m_reader;
    bool m_readerTried = false;
    std::mutex m_mutex; // the store and the pending checks
    HistoryStore m_store;
    std::vector<CheckRecord> m_pending;
    // Apart, so that the window never waits for a write that waits for a lock.
    mutable std::mutex m_problemMutex;
    std::string m_problem;
    std::atomic<bool> m_available{true};
};
