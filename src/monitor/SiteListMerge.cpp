#include "monitor/SiteListMerge.h"

#include "monitor/SiteList.h"
#include "platform/Utf8Text.h"

#include <algorithm>
#include <unordered_map>

namespace {

// A one-line field as the data file gives it back: a line feed in it is
// written as a blank.
void AppendField(std::string& key, const std::string& field)
{
    const std::size_t at = key.size();
    key += field;
    std::replace(key.begin() + static_cast<std::ptrdiff_t>(at), key.end(), '\n', ' ');
}

using Counts = std::unordered_map<std::string, std::size_t>;

Counts CountOf(const std::vector<std::string>& keys)
{
    Counts counts;
    for (const std::string& key : keys)
        ++counts[key];
    return counts;
}

} // namespace

std::string SiteListMerge::Key(const SiteEntry& entry)
{
    // Fields hold no line feed once read, so one keeps them apart.
    std::string key;
    AppendField(key, entry.field(SiteEntry::Url));
    key += '\n';
    AppendField(key, entry.field(SiteEntry::SearchText));
    key += '\n';
    // The loader drops an address of three characters or fewer.
    const std::string& email = entry.field(SiteEntry::EmailAddress);
    if (Utf8Text::CharacterCount(email) > 3)
        AppendField(key, email);
    return key;
}

std::vector<std::string> SiteListMerge::Keys(const std::vector<SiteEntry>& entries)
{
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (const SiteEntry& entry : entries)
        keys.push_back(Key(entry));
    return keys;
}

void SiteListMerge::Changes::Append(Changes more)
{
    // An entry added earlier and removed now never reaches the list.
    for (std::string& key : more.removed) {
        const auto it = std::find_if(added.begin(), added.end(),
                                     [&](const SiteEntry& entry) { return Key(entry) == key; });
        if (it != added.end())
            added.erase(it);
        else
            removed.push_back(std::move(key));
    }
    for (SiteEntry& entry : more.added)
        added.push_back(std::move(entry));
}

SiteListMerge::Changes SiteListMerge::Between(const std::vector<std::string>& base,
                                              std::vector<SiteEntry> theirs)
{
    Counts left = CountOf(base);
    Changes changes;
    for (SiteEntry& entry : theirs) {
        const auto it = left.find(Key(entry));
        if (it != left.end() && it->second > 0) {
            --it->second;
        } else {
            entry.mark = 0;
            changes.added.push_back(std::move(entry));
        }
    }
    for (const std::string& key : base) {
        std::size_t& count = left[key];
        if (count > 0) {
            --count;
            changes.removed.push_back(key);
        }
    }
    return changes;
}

void SiteListMerge::Apply(Changes& changes, std::vector<SiteEntry>& entries)
{
    Counts remove = CountOf(changes.removed);
    std::vector<std::string> found;
    std::erase_if(entries, [&](const SiteEntry& entry) {
        const std::string key = Key(entry);
        const auto it = remove.find(key);
        if (it == remove.end() || it->second == 0)
            return false;
        --it->second;
        found.push_back(key);
        return true;
    });
    changes.removed = std::move(found);
    for (const SiteEntry& entry : changes.added)
        entries.push_back(entry);
}

void SiteListMerge::Apply(const Changes& changes, SiteList& list)
{
    Counts remove = CountOf(changes.removed);
    std::vector<int> rows;
    list.ForEach([&](int row, const SiteEntry& entry) {
        const auto it = remove.find(Key(entry));
        if (it != remove.end() && it->second > 0) {
            --it->second;
            rows.push_back(row);
        }
    });
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        list.Remove(*it);
    for (const SiteEntry& entry : changes.added)
        list.Append(entry);
}

void SiteListMerge::TakeOutcomes(std::vector<SiteEntry>&& ours, std::vector<SiteEntry>& theirs)
{
    std::unordered_map<std::string, std::vector<std::size_t>> rowsOf;
    for (std::size_t i = 0; i < theirs.size(); ++i)
        rowsOf[Key(theirs[i])].push_back(i);
    Counts used;
    for (SiteEntry& entry : ours) {
        const std::string key = Key(entry);
        const auto it = rowsOf.find(key);
        std::size_t& n = used[key];
        if (it == rowsOf.end() || n >= it->second.size())
            continue;
        SiteEntry& target = theirs[it->second[n++]];
        for (int column : {SiteEntry::Status, SiteEntry::LastCheck, SiteEntry::LastResponse})
            target.field(column) = std::move(entry.field(column));
    }
}
