#pragma once

#include "monitor/SiteEntry.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// Identity of one entry for the life of the process: given when the entry
// enters the list (Append, Assign), never reused, never 0. A check pass and
// the alerts name entries by it, because rows move under them while the
// user adds, removes and sorts.
using EntryId = std::uint64_t;

// The one copy of the site entries. Readers and writers address a field by
// row and column, the way the list view does, and every access takes the
// list's own lock, so a check pass on a worker thread and the UI thread can
// use it at once. Only the UI thread changes the structure (append, remove,
// sort, clear, assign); other threads only change fields of entries.
//
// Callers that walk the list read the row count afresh after each row: rows
// can disappear between two calls, and an access to a row that is gone reads
// empty and writes nothing.
class SiteList
{
public:
    // What changed, for a view over the list (a Qt model). Every callback is
    // made with the list's lock released.
    struct Observer
    {
        virtual ~Observer() = default;
        // Structural changes happen on the UI thread only; these are called
        // on that thread, before and after the change, with rows as Qt
        // models count them (first..last inclusive).
        virtual void RowsAboutToBeInserted(int /*first*/, int /*last*/) {}
        virtual void RowsInserted(int /*first*/, int /*last*/) {}
        virtual void RowsAboutToBeRemoved(int /*first*/, int /*last*/) {}
        virtual void RowsRemoved(int /*first*/, int /*last*/) {}
        virtual void AboutToSort() {}
        virtual void Sorted(const std::vector<int>& /*newRowOf*/) {} // newRowOf[oldRow]
        virtual void AboutToReset() {}
        virtual void Reset() {}
        // Field changes may come from any thread (a pass's worker). They
        // name the entry, not the row: the receiver finds the row (RowOf)
        // when it handles the change on its own thread. `columns` is a bit
        // mask: bit c for column c (SiteEntry::Column), kMarkBit for the
        // mark. It must not wait for another thread that may be removing
        // this observer (a blocking call to the UI thread, say): removal
        // waits for running callbacks.
        static constexpr unsigned kMarkBit = 1u << 6;
        virtual void EntryChanged(EntryId /*id*/, unsigned /*columns*/) {}
    };

    static constexpr unsigned ColumnBit(int column) { return 1u << column; }

    SiteList() = default;
    SiteList(const SiteList&) = delete;
    SiteList& operator=(const SiteList&) = delete;

    int RowCount() const;

    // Empty text for a row or column that does not exist.
    std::string Text(int row, int column) const;
    // At most `maxBytes` bytes of the field, cut before a UTF-8 character
    // that would not fit whole: a view draws a 32 MiB page's cell from this.
    std::string TextPrefix(int row, int column, std::size_t maxBytes) const;
    // The field's length in bytes, 0 for a row or column that does not exist.
    std::size_t TextSize(int row, int column) const;
    // False, and nothing written, for a row or column that does not exist.
    bool SetText(int row, int column, const std::string& text);
    bool SetText(int row, int column, std::string&& text);

    // 0 for a row that does not exist.
    int Mark(int row) const;
    // The row's last check of this run: its reason (empty before one) and
    // the fetch's time in seconds (below 0 before one).
    std::string Reason(int row) const;
    double Seconds(int row) const;
    bool SetMark(int row, int mark);

    // A copy of the whole row, or nothing when the row does not exist.
    std::optional<SiteEntry> Row(int row) const;

    // 0 when there is no such row.
    EntryId IdAt(int row) const;
    // -1 when the entry is no longer in the list.
    int RowOf(EntryId id) const;

    // Appends, gives the entry its identity and returns the new row's index.
    int Append(SiteEntry entry);
    bool Remove(int row);
    // Announced as a reset.
    void Clear();
    // Replaces every entry (the load), each with a new identity; announced
    // as a reset.
    void Assign(std::vector<SiteEntry> entries);
    // Reorders the rows, stably, with a strict weak ordering over whole
    // entries. Returns newRowOf[oldRow]. UI thread only.
    std::vector<int> Sort(const std::function<bool(const SiteEntry&, const SiteEntry&)>& less);

    // Runs `change` on the row's entry with the lock held, so what it reads
    // and writes belongs to one moment. It returns the columns it changed
    // (bits as in Observer::EntryChanged), which observers are then told.
    // The row's identity, or 0 (and `change` not run) when there is no
    // such row. `change` must not call back into the list.
    EntryId UpdateRow(int row, const std::function<unsigned(SiteEntry&)>& change);
    // The same for an entry wherever it now stands; false when it is gone.
    bool UpdateEntry(EntryId id, const std::function<unsigned(SiteEntry&)>& change);

    // Calls `visit` for each row in order with the lock held: the list cannot
    // change under it, and no copy of the entries is made. `visit` must not
    // call back into the list.
    void ForEach(const std::function<void(int row, const SiteEntry&)>& visit) const;

    // A copy of every entry, in row order, as the list stood at one moment
    // (a moment during the call). Each hold of the lock copies at most a
    // row or two, so a view painting through the lock and a pass writing
    // its outcomes never wait for a copy of the whole list (with pages, a
    // thousand sites make some 100 MB). Any thread.
    std::vector<SiteEntry> Snapshot() const;
    // Every entry, in row order, its page (LastResponse) moved out instead
    // of copied: the list's pages are empty afterwards. For a list at its
    // last use, such as the checker's once its pass has ended; no observer
    // hears of it.
    std::vector<SiteEntry> TakeEntries();

    // Observers are not owned. RemoveObserver returns only when no callback
    // to that observer runs or will start, so the observer can be destroyed
    // right after it, even while a pass on another thread changes fields.
    // (A callback that removes its own observer does not wait for itself.)
    void AddObserver(Observer* observer);
    void RemoveObserver(Observer* observer);

private:
    struct Slot
    {
        EntryId id;
        // Counts the changes to the entry's fields, so that Snapshot can
        // tell a copy taken earlier from the entry as it stands now.
        std::uint64_t version = 0;
        SiteEntry entry;
    };

    template <typename T> bool SetTextImpl(int row, int column, T&& text);
    bool ValidRow(int row) const { return row >= 0 && static_cast<size_t>(row) < m_rows.size(); }
    void Reindex(std::size_t from);

    // Calls `call` for each observer, with the observer lock released
    // during each call.
    void Notify(const std::function<void(Observer&)>& call);
    void NotifyChanged(EntryId id, unsigned columns);

    mutable std::mutex m_mutex;
    std::vector<Slot> m_rows;
    std::unordered_map<EntryId, std::size_t> m_rowOf;

    // Separate from the entries' lock: callbacks are made with that released.
    struct Call
    {
        Observer* observer;
        std::thread::id thread;
    };
    std::mutex m_observerMutex;
    std::condition_variable m_callEnded;
    std::vector<Observer*> m_observers;
    std::vector<Call> m_calls; // callbacks running now
};
