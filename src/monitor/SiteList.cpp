#include "monitor/SiteList.h"

#include <algorithm>

namespace {
bool ValidColumn(int column)
{
    return column >= 0 && column < SiteEntry::kColumnCount;
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
    return m_rows[static_cast<size_t>(row)].field(column);
}

template <typename T> bool SiteList::SetTextImpl(int row, int column, T&& text)
{
    Observer* observer;
    {
        std::lock_guard lock(m_mutex);
        if (!ValidRow(row) || !ValidColumn(column))
            return false;
        m_rows[static_cast<size_t>(row)].field(column) = std::forward<T>(text);
        observer = m_observer;
    }
    if (observer)
        observer->FieldChanged(row, column);
    return true;
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
    return ValidRow(row) ? m_rows[static_cast<size_t>(row)].mark : 0;
}

bool SiteList::SetMark(int row, int mark)
{
    Observer* observer;
    {
        std::lock_guard lock(m_mutex);
        if (!ValidRow(row))
            return false;
        m_rows[static_cast<size_t>(row)].mark = mark;
        observer = m_observer;
    }
    if (observer)
        observer->MarkChanged(row);
    return true;
}

std::optional<SiteEntry> SiteList::Row(int row) const
{
    std::lock_guard lock(m_mutex);
    if (!ValidRow(row))
        return std::nullopt;
    return m_rows[static_cast<size_t>(row)];
}

int SiteList::Append(SiteEntry entry)
{
    Observer* observer;
    int index;
    {
        std::lock_guard lock(m_mutex);
        m_rows.push_back(std::move(entry));
        index = static_cast<int>(m_rows.size()) - 1;
        observer = m_observer;
    }
    if (observer)
        observer->RowsChanged();
    return index;
}

bool SiteList::Remove(int row)
{
    Observer* observer;
    {
        std::lock_guard lock(m_mutex);
        if (!ValidRow(row))
            return false;
        m_rows.erase(m_rows.begin() + row);
        observer = m_observer;
    }
    if (observer)
        observer->RowsChanged();
    return true;
}

void SiteList::Clear()
{
    Observer* observer;
    {
        std::lock_guard lock(m_mutex);
        m_rows.clear();
        observer = m_observer;
    }
    if (observer)
        observer->RowsChanged();
}

void SiteList::Sort(const std::function<bool(const SiteEntry&, const SiteEntry&)>& less)
{
    Observer* observer;
    {
        std::lock_guard lock(m_mutex);
        std::stable_sort(m_rows.begin(), m_rows.end(), less);
        observer = m_observer;
    }
    if (observer)
        observer->RowsChanged();
}

void SiteList::ForEach(const std::function<void(int row, const SiteEntry&)>& visit) const
{
    std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < m_rows.size(); ++i)
        visit(static_cast<int>(i), m_rows[i]);
}

void SiteList::SetObserver(Observer* observer)
{
    std::lock_guard lock(m_mutex);
    m_observer = observer;
}
