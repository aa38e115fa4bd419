#pragma once

#include "monitor/SiteEntry.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The one copy of the site entries. Every reader and writer addresses a field
// by row and column, the way the list view does, and every access takes the
// list's own lock, so a check pass on a worker thread and the UI thread can
// use it at once. Only the UI thread changes the structure (append, remove,
// sort, clear); a pass only changes fields of rows that exist.
//
// Callers that walk the list read the row count afresh after each row: rows
// can disappear between two calls, and an access to a row that is gone reads
// empty and writes nothing.
class SiteList
{
public:
    // What changed, for a view over the list. Called after the change, with
    // the lock released, on the thread that made the change.
    struct Observer
    {
        virtual ~Observer() = default;
        virtual void FieldChanged(int row, int column) = 0;
        virtual void MarkChanged(int row) = 0;
        virtual void RowsChanged() = 0; // rows added, removed, reordered
    };

    int RowCount() const;

    // Empty text for a row or column that does not exist.
    std::string Text(int row, int column) const;
    // False, and nothing written, for a row or column that does not exist.
    bool SetText(int row, int column, const std::string& text);
    bool SetText(int row, int column, std::string&& text);

    // 0 for a row that does not exist.
    int Mark(int row) const;
    bool SetMark(int row, int mark);

    // A copy of the whole row, or nothing when the row does not exist.
    std::optional<SiteEntry> Row(int row) const;

    // Appends and returns the new row's index.
    int Append(SiteEntry entry);
    bool Remove(int row);
    void Clear();
    // Reorders the rows with a strict weak ordering over whole entries.
    void Sort(const std::function<bool(const SiteEntry&, const SiteEntry&)>& less);

    // Calls `visit` for each row in order with the lock held: the list cannot
    // change under it, and no copy of the entries is made. `visit` must not
    // call back into the list.
    void ForEach(const std::function<void(int row, const SiteEntry&)>& visit) const;

    // The observer is not owned; nullptr removes it.
    void SetObserver(Observer* observer);

private:
    template <typename T> bool SetTextImpl(int row, int column, T&& text);
    bool ValidRow(int row) const
    {
        return row >= 0 && static_cast<size_t>(row) < m_rows.size();
    }

    mutable std::mutex m_mutex;
    std::vector<SiteEntry> m_rows;
    Observer* m_observer = nullptr;
};
