#pragma once

#include "monitor/SiteEntry.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class SiteList;

// Writes the data file on a thread of its own, so that the user-interface
// thread never waits for the disk. Each Save takes a copy of the list as it
// is at that moment; the copies are written one after another, never two at
// once, and a copy still waiting when a newer one arrives is dropped, since
// the newer one holds everything it held. A process that ends normally
// (return from main, std::exit) first finishes every save asked for.
class DataFileSaver
{
public:
    explicit DataFileSaver(std::string path);
    // Finishes every save asked for, then stops the writer.
    ~DataFileSaver();
    DataFileSaver(const DataFileSaver&) = delete;
    DataFileSaver& operator=(const DataFileSaver&) = delete;

    const std::string& Path() const { return m_path; }

    // Takes the copy under the list's lock and returns at once.
    void Save(const SiteList& list);

    // Save, then waits until that copy (or a newer one) is written. True
    // when that write succeeded. For threads that may wait: the end of a
    // pass, the command-line checker.
    bool SaveAndWait(const SiteList& list);

    // Waits until every save asked for is written; true when the last one
    // succeeded (or none was asked for).
    bool Flush();

private:
    std::uint64_t Queue(std::vector<SiteEntry> entries);
    bool WaitFor(std::uint64_t ticket);
    void WriterLoop();

    const std::string m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::vector<SiteEntry>> m_pending;
    std::uint64_t m_asked = 0;   // tickets handed out
    std::uint64_t m_written = 0; // every ticket up to this one is written
    bool m_lastOk = true;
    bool m_stop = false;
    std::thread m_writer;
};
