#include "monitor/HistoryRecorder.h"

#include "platform/Clock.h"

#include <cstdio>
#include <utility>

HistoryRecorder::HistoryRecorder(std::string path) : m_store(std::move(path)) {}

void HistoryRecorder::Record(const CheckRecord& record)
{
    std::lock_guard lock(m_mutex);
    if (m_pending.size() >= kMaxPending)
        m_pending.erase(m_pending.begin(), m_pending.begin() + (kMaxPending / 10));
    m_pending.push_back(record);
}

HistoryStore* HistoryRecorder::Reader()
{
    if (!std::exchange(m_readerTried, true)) {
        auto reader = std::make_unique<HistoryStore>(m_store.Path());
        if (reader->OpenForReading())
            m_reader = std::move(reader);
    }
    return m_reader.get();
}

void HistoryRecorder::PassFinished()
{
    {
        std::lock_guard readerLock(m_readerMutex);
        m_reader.reset();
        m_readerTried = false;
    }
    std::lock_guard lock(m_mutex);
    if (m_pending.empty())
        return;
    bool written = (m_store.IsOpen() || m_store.OpenForWriting()) && m_store.Write(m_pending);
    // Old checks go after the new ones are safe; a failed prune loses
    // nothing and is tried again after the next pass.
    if (written) {
        m_pending.clear();
        m_store.PruneIfDue(Clock::Now());
    }
    std::string problem = written ? std::string() : m_store.Error();
    {
        std::lock_guard problemLock(m_problemMutex);
        m_problem = problem;
    }
    if (written) {
        m_available = true;
        return;
    }
    m_store.Close(); // a fresh connection next time: the file may have been mended
    if (m_available.exchange(false))
        std::fprintf(stderr, "Kestrelle: history is unavailable, checks are not recorded: %s\n",
                     problem.c_str());
}

std::string HistoryRecorder::Problem() const
{
    std::lock_guard lock(m_problemMutex);
    return m_problem;
}

std::string HistoryRecorder::LastReason(const std::string& siteKey)
{
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pending.rbegin(); it != m_pending.rend(); ++it)
            if (it->siteKey == siteKey)
                return it->reason;
    }
    std::string reason;
    std::lock_guard readerLock(m_readerMutex);
    HistoryStore* reader = Reader();
    if (!reader || !reader->ReadLastReason(siteKey, reason))
        return {};
    return reason;
}

std::time_t HistoryRecorder::OutageStart(const std::string& siteKey)
{
    std::time_t start = 0;
    {
        // A connection of its own, for reading only: the writer's stays as
        // it is, and a missing file is not made.
        std::lock_guard readerLock(m_readerMutex);
        HistoryStore* reader = Reader();
        std::vector<HistoryStore::Outage> outages;
        const std::time_t now = Clock::Now();
        if (reader && reader->ReadOutages(siteKey, 0, now + HistoryStore::kAheadSeconds, outages) &&
            !outages.empty() && outages.back().end == 0)
            start = outages.back().start;
    }
    std::lock_guard lock(m_mutex);
    for (const CheckRecord& record : m_pending) {
        if (record.siteKey != siteKey)
            continue;
        if (record.ok)
            start = 0;
        else if (start == 0)
            start = record.at;
    }
    return start;
}
