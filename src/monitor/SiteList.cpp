#include "monitor/SiteList.h"

#include "platform/Utf8Text.h"

#include <algorithm>
#include <atomic>
#include <numeric>

namespace {

bool ValidColumn(int column)
{
    return column >= 0 && column < SiteEntry::kColumnCount;
}

// Process-wide, so that entries of two lists (the desktop's and a test's)
// never share an identity either.
std::atomic<EntryId> g_lastId{0};

EntryId NewId()
{
    return g_lastId.fetch_add(1, std::memory_order_relaxed) + 1;
}

} // namespace

int SiteList::RowCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_rows.size());
}

std::string SiteList::Text(int row, int column) const
{
    std::lock_guard lock(m_mutex);
    if (!ValidRow(row) || !ValidColumn(column))
        return {};
    return m_rows[static_cast<size_t>(row)].entry.field(column);
}

std::string SiteList::TextPrefix(int row, int column, std::size_t maxBytes) const
{
    std::lock_guard lock(m_mutex);
    if (!ValidRow(row) || !ValidColumn(column))
        return {};
    return std::string(
        Utf8Text::CutToBytes(m_rows[static_cast<size_t>(row)].entry.field(column), maxBytes));
}

std::string SiteList::Reason(int row) const
{
    std::lock_guard lock(m_mutex);
    return ValidRow(row) ? m_rows[static_cast<size_t>(row)].entry.reason : std::string();
}

double SiteList::Seconds(int row) const
{
    std::lock_guard lock(m_mutex);
    return ValidRow(row) ? m_rows[static_cast<size_t>(row)].entry.seconds : -1;
}

std::size_t SiteList::TextSize(int row, int column) const
{
    std::lock_guard lock(m_mutex);
    if (!ValidRow(row) || !ValidColumn(column))
        return 0;
    return m_rows[static_cast<size_t>(row)].entry.field(column).size();
}

template <typename T> bool SiteList::SetTextImpl(int row, int column, T&& text)
{
    if (!ValidColumn(column))
        return false;
    return UpdateRow(row, [&](SiteEntry& e) {
               e.field(column) = std::forward<T>(text);
               return ColumnBit(column);
           }) != 0;
}

bool SiteList::SetText(int row, int column, const std::string& text)
{
    return SetTextImpl(row, column, text);
}

bool SiteList::SetText(int row, int column, std::string&& text)
{
    return SetTextImpl(row, column, std::move(text));
}

int SiteList::Mark(int row) const
{
    std::lock_guard lock(m_mutex);
    return ValidRow(row) ? m_rows[static_cast<size_t>(row)].entry.mark : 0;
}

bool SiteList::SetMark(int row, int mark)
{
    return UpdateRow(row, [mark](SiteEntry& e) {
               e.mark = mark;
               return Observer::kMarkBit;
           }) != 0;
}

std::optional<SiteEntry> SiteList::Row(int row) const
{
    std::lock_guard lock(m_mutex);
    if (!ValidRow(row))
        return std::nullopt;
    return m_rows[static_cast<size_t>(row)].entry;
}

EntryId SiteList::IdAt(int row) const
{
    std::lock_guard lock(m_mutex);
    return ValidRow(row) ? m_rows[static_cast<size_t>(row)].id : 0;
}

int SiteList::RowOf(EntryId id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_rowOf.find(id);
    return it == m_rowOf.end() ? -1 : static_cast<int>(it->second);
}

void SiteList::Reindex(std::size_t from)
{
    for (std::size_t i = from; i < m_rows.size(); ++i)
        m_rowOf[m_rows[i].id] = i;
}

int SiteList::Append(SiteEntry entry)
{
    // Only the UI thread changes the structure, so the row announced is the
    // row that the append then makes.
    const int row = RowCount();
    Notify([row](Observer& o) { o.RowsAboutToBeInserted(row, row); });
    {
        std::lock_guard lock(m_mutex);
        const EntryId id = NewId();
        m_rows.push_back({id, 0, std::move(entry)});
        m_rowOf[id] = m_rows.size() - 1;
    }
    Notify([row](Observer& o) { o.RowsInserted(row, row); });
    return row;
}

bool SiteList::Remove(int row)
{
    {
        std::lock_guard lock(m_mutex);
        if (!ValidRow(row))
            return false;
    }
    Notify([row](Observer& o) { o.RowsAboutToBeRemoved(row, row); });
    {
        std::lock_guard lock(m_mutex);
        m_rowOf.erase(m_rows[static_cast<size_t>(row)].id);
        m_rows.erase(m_rows.begin() + row);
        Reindex(static_cast<size_t>(row));
    }
    Notify([row](Observer& o) { o.RowsRemoved(row, row); });
    return true;
}

void SiteList::Clear()
{
    Assign({});
}

void SiteList::Assign(std::vector<SiteEntry> entries)
{
    Notify([](Observer& o) { o.AboutToReset(); });
    {
        std::lock_guard lock(m_mutex);
        m_rows.clear();
        m_rowOf.clear();
        m_rows.reserve(entries.size());
        for (SiteEntry& e : entries)
            m_rows.push_back({NewId(), 0, std::move(e)});
        Reindex(0);
    }
    Notify([](Observer& o) { o.Reset(); });
}

std::vector<int> SiteList::Sort(const std::function<bool(const SiteEntry&, const SiteEntry&)>& less)
{
    Notify([](Observer& o) { o.AboutToSort(); });
    std::vector<int> newRowOf;
    {
        std::lock_guard lock(m_mutex);
        std::vector<int> order(m_rows.size()); // order[newRow] = oldRow
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return less(m_rows[static_cast<size_t>(a)].entry, m_rows[static_cast<size_t>(b)].entry);
        });
        std::vector<Slot> sorted;
        sorted.reserve(m_rows.size());
        newRowOf.resize(m_rows.size());
        for (std::size_t to = 0; to < order.size(); ++to) {
            newRowOf[static_cast<size_t>(order[to])] = static_cast<int>(to);
            sorted.push_back(std::move(m_rows[static_cast<size_t>(order[to])]));
        }
        m_rows = std::move(sorted);
        Reindex(0);
    }
    Notify([&newRowOf](Observer& o) { o.Sorted(newRowOf); });
    return newRowOf;
}

EntryId SiteList::UpdateRow(int row, const std::function<unsigned(SiteEntry&)>& change)
{
    EntryId id;
    unsigned columns;
    {
        std::lock_guard lock(m_mutex);
        if (!ValidRow(row))
            return 0;
        Slot& slot = m_rows[static_cast<size_t>(row)];
        id = slot.id;
        ++slot.version; // before: a change that throws half-way still counts
        columns = change(slot.entry);
    }
    NotifyChanged(id, columns);
    return id;
}

bool SiteList::UpdateEntry(EntryId id, const std::function<unsigned(SiteEntry&)>& change)
{
    unsigned columns;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_rowOf.find(id);
        if (it == m_rowOf.end())
            return false;
        Slot& slot = m_rows[it->second];
        ++slot.version;
        columns = change(slot.entry);
    }
    NotifyChanged(id, columns);
    return true;
}

void SiteList::ForEach(const std::function<void(int row, const SiteEntry&)>& visit) const
{
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < m_rows.size(); ++i)
        visit(static_cast<int>(i), m_rows[i].entry);
}

// Copying the whole list in one hold of the lock kept the window from
// painting for as long as 100 MB took to copy. Instead each entry is copied
// in a hold of its own, into copies kept by identity and change count; then
// one short hold checks that every entry in the list still stands as copied
// and, if so, moves the copies into row order: the result is the list at
// that moment. Entries that changed or came in meanwhile are copied again in
// another round, and only those. Structural changes need no special care:
// the check walks the rows as they are then, so a sort or a removal during
// the copy costs nothing and an append costs one entry. A pass changes a few
// rows while a round runs, so rounds converge quickly; after kRounds the
// check copies what is still out of date in its own hold, so a list that
// keeps changing cannot put the copy off for ever.
std::vector<SiteEntry> SiteList::Snapshot() const
{
    constexpr int kRounds = 4;
    struct Copy
    {
        std::uint64_t version;
        SiteEntry entry;
    };
    std::unordered_map<EntryId, Copy> copies;
    const auto upToDate = [&copies](const Slot& slot) {
        const auto it = copies.find(slot.id);
        return it != copies.end() && it->second.version == slot.version;
    };
    for (int round = 1;; ++round) {
        for (std::size_t i = 0;; ++i) {
            std::lock_guard lock(m_mutex);
            if (i >= m_rows.size())
                break;
            const Slot& slot = m_rows[i];
            if (!upToDate(slot))
                copies.insert_or_assign(slot.id, Copy{slot.version, slot.entry});
        }
        std::lock_guard lock(m_mutex);
        if (round < kRounds && !std::all_of(m_rows.begin(), m_rows.end(), upToDate))
            continue;
        std::vector<SiteEntry> out;
        out.reserve(m_rows.size());
        for (const Slot& slot : m_rows) {
            if (upToDate(slot))
                out.push_back(std::move(copies.find(slot.id)->second.entry));
            else
                out.push_back(slot.entry);
        }
        return out;
    }
}

std::vector<SiteEntry> SiteList::TakeEntries()
{
    std::lock_guard lock(m_mutex);
    std::vector<SiteEntry> out;
    out.reserve(m_rows.size());
    for (Slot& slot : m_rows) {
        std::string& page = slot.entry.field(SiteEntry::LastResponse);
        std::string taken = std::move(page);
        page.clear();
        out.push_back(slot.entry);
        out.back().field(SiteEntry::LastResponse) = std::move(taken);
        ++slot.version;
    }
    return out;
}

void SiteList::AddObserver(Observer* observer)
{
    if (!observer)
        return;
    std::lock_guard lock(m_observerMutex);
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void SiteList::RemoveObserver(Observer* observer)
{
    std::unique_lock lock(m_observerMutex);
    std::erase(m_observers, observer);
    const std::thread::id self = std::this_thread::get_id();
    m_callEnded.wait(lock, [&] {
        return std::none_of(m_calls.begin(), m_calls.end(), [&](const Call& c) {
            return c.observer == observer && c.thread != self;
        });
    });
}

void SiteList::Notify(const std::function<void(Observer&)>& call)
{
    std::vector<Observer*> observers;
    {
        std::lock_guard lock(m_observerMutex);
        if (m_observers.empty())
            return;
        observers = m_observers;
    }
    const std::thread::id self = std::this_thread::get_id();
    for (Observer* observer : observers) {
        {
            // Checked again for each one: an earlier callback, or another
            // thread, may have removed it since the copy was taken.
            std::lock_guard lock(m_observerMutex);
            if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
                continue;
            m_calls.push_back({observer, self});
        }
        // Ends the call's record even when the callback throws: a record
        // left behind would hold RemoveObserver for ever.
        struct Ended
        {
            SiteList& list;
            Observer* observer;
            std::thread::id self;
            ~Ended()
            {
                std::lock_guard lock(list.m_observerMutex);
                const auto it =
                    std::find_if(list.m_calls.begin(), list.m_calls.end(), [&](const Call& c) {
                        return c.observer == observer && c.thread == self;
                    });
                list.m_calls.erase(it);
                list.m_callEnded.notify_all();
            }
        } ended{*this, observer, self};
        call(*observer);
    }
}

void SiteList::NotifyChanged(EntryId id, unsigned columns)
{
    if (columns != 0)
        Notify([id, columns](Observer& o) { o.EntryChanged(id, columns); });
}
