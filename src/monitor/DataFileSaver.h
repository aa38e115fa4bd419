#pragma once

#include "monitor/SiteListMerge.h"
#include "platform/InputFile.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
// Other programs save the same file (the checker run from cron beside the
// desktop program). Each write happens in the turn of every saver of the
// folder (DataFile::WithTurn) and keeps what the others did:
//
// - WholeList (the desktop program): the list is written, and when the file
//   is not as this saver last read or wrote it, the entries someone else
//   added are added and those they removed are removed, in the file and in
//   the list (TakeChanges). Only entries are taken; the user's own edits
//   and this program's check outcomes stay.
// - Outcomes (the checker): only the outcome fields of the list's entries
//   are written, into the entries of the file as it is then; every other
//   entry and field of the file stays.
//
// A file that could not be read whole is never written over: the write
// fails until the file can be read again, and then its entries join.
//
// The writer reads the list after Save has returned: the list must outlive
// every save asked for (destroy the saver, or Flush, before the list).
class DataFileSaver
{
public:
    enum class Mode
    {
        WholeList,
        Outcomes,
    };

    explicit DataFileSaver(std::string path, Mode mode = Mode::WholeList);
    // Finishes every save asked for, then stops the writer.
    ~DataFileSaver();
    DataFileSaver(const DataFileSaver&) = delete;
    DataFileSaver& operator=(const DataFileSaver&) = delete;

    const std::string& Path() const { return m_path; }

    // Appends the file's entries to `list` (DataFile::LoadSites) and keeps
    // them as what the file holds. False when the file is there but could
    // not be read whole; saves then refuse to write until it can be.
    bool Load(SiteList& list);
    // After a failed Load: what the user is told, in a few sentences.
    std::string LoadProblem() const;

    // Called on the writer's thread when entries that someone else added to
    // or removed from the file wait to be taken into the loaded list; the
    // owner then calls TakeChanges on the thread that may change the list's
    // rows. Without a notice the writer takes them in itself.
    void SetChangeNotice(std::function<void()> notice);
    void TakeChanges(SiteList& list);

    // Returns at once; no copy is made on the caller's thread.
    void Save(const SiteList& list);

    // Save, then waits until the list is written as it stood at the call or
    // later. True when that write succeeded. For threads that may wait: the end of a
    // pass, the command-line checker.
    //
    // In Outcomes mode the pages move into the file instead of being copied
    // (some 10 MB for a thousand sites, and the time to fault that much in):
    // the list's pages are empty afterwards, as SiteList::TakeEntries
    // leaves them. The checker saves once, at the end of its pass.
    bool SaveAndWait(SiteList& list);

    // Waits until every save asked for is written; true when the last one
    // succeeded (or none was asked for).
    bool Flush();

private:
    std::uint64_t Queue(const SiteList& list);
    bool WaitFor(std::uint64_t ticket);
    void WriterLoop();
    bool Write(const SiteList& list);
    bool WriteWholeList(const SiteList& list);
    bool WriteOutcomes(std::vector<SiteEntry> ours);

    const std::string m_path;
    const Mode m_mode;

    // The file as this saver last read or wrote it; the writer's, and
    // Load's before the first save. Keys are unknown until a load; a stamp
    // that is unknown means the file must be read before it is written.
    std::mutex m_fileMutex;
    std::optional<std::vector<std::string>> m_baseKeys;
    std::optional<InputFile::Stamp> m_baseStamp;
    SiteList* m_loadedInto = nullptr;

    // The owner's: never held while the disk is written.
    mutable std::mutex m_ownerMutex;
    std::string m_loadProblem;
    std::function<void()> m_notice;

    // Changes of others written to the file, not yet taken into the list.
    // Taking them and copying the list for a write exclude each other.
    std::mutex m_changesMutex;
    SiteListMerge::Changes m_changes;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    const SiteList* m_pending = nullptr; // owed a save
    std::uint64_t m_asked = 0;           // tickets handed out
    std::uint64_t m_written = 0;         // every ticket up to this one is written
    bool m_lastOk = true;
    bool m_stop = false;
    std::thread m_writer;
};
