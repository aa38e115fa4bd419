#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class SiteList;

// Writes the data file on a thread of its own, so that the user-interface
// thread never waits for the disk, nor for a copy of the list. Save only
// notes that the list is owed a save; the writer then copies the list itself
// (SiteList::Snapshot: the list as it stood at one moment, taken without a
// long hold of its lock) and writes that. So what is written is the list as
// it was at the Save or later. Saves are written one after another, never
// two at once; saves asked for while one is being written make one more
// write, of the list as it is by then, which holds everything they asked
// for. A process that ends normally (return from main, std::exit) first
// finishes every save asked for.
//
// The writer reads the list after Save has returned: the list must outlive
// every save asked for (destroy the saver, or Flush, before the list).
class DataFileSaver
{
public:
    explicit DataFileSaver(std::string path);
    // Finishes every save asked for, then stops the writer.
    ~DataFileSaver();
    DataFileSaver(const DataFileSaver&) = delete;
    DataFileSaver& operator=(const DataFileSaver&) = delete;

    const std::string& Path() const { return m_path; }

    // Returns at once; no copy is made on the caller's thread.
    void Save(const SiteList& list);

    // Save, then waits until the list is written as it stood at the call or
    // later. True when that write succeeded. For threads that may wait: the end of a
    // pass, the command-line checker.
    bool SaveAndWait(const SiteList& list);

    // Waits until every save asked for is written; true when the last one
    // succeeded (or none was asked for).
    bool Flush();

private:
    std::uint64_t Queue(const SiteList& list);
    bool WaitFor(std::uint64_t ticket);
    void WriterLoop();

    const std::string m_path;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const SiteList* m_pending = nullptr; // owed a save
    std::uint64_t m_asked = 0;           // tickets handed out
    std::uint64_t m_written = 0;         // every ticket up to this one is written
    bool m_lastOk = true;
    bool m_stop = false;
    std::thread m_writer;
};
