#pragma once

#include "monitor/SiteEntry.h"

#include <string>
#include <vector>

class SiteList;

// How two programs that save one list (the desktop program and the checker
// run from cron) keep each other's changes. An entry is known by the fields
// the user typed (URL, Text to Search For, Email Address), as the data file
// gives them back: the file has no identities, and these are what the user
// tells sites apart by. The other fields are the outcome of the last check.
class SiteListMerge
{
public:
    // The user's fields of `entry` as a load of it would give them back.
    static std::string Key(const SiteEntry& entry);
    static std::vector<std::string> Keys(const std::vector<SiteEntry>& entries);

    // What someone else did to the file: the entries they added and the keys
    // of those they removed, one key for each entry removed.
    struct Changes
    {
        std::vector<SiteEntry> added;
        std::vector<std::string> removed;

        bool Empty() const { return added.empty() && removed.empty(); }
        // Adds later changes; a removal cancels an addition not taken yet.
        void Append(Changes more);
    };

    // From `base`, the keys of the file as this program last read or wrote
    // it, to `theirs`, the entries it holds now.
    static Changes Between(const std::vector<std::string>& base, std::vector<SiteEntry> theirs);

    // Removes one entry for each removed key, the first with that key, and
    // appends the added ones. Removals that found no entry (the user removed
    // or edited it meanwhile) are dropped from `changes`.
    static void Apply(Changes& changes, std::vector<SiteEntry>& entries);
    // The same on the list; only where the list's rows may change (the UI
    // thread of the desktop program).
    static void Apply(const Changes& changes, SiteList& list);

    // Writes the outcome fields (Status, Last Check, Last Response) of each
    // of `ours` into the entry of `theirs` with its key: the n-th of ours
    // with a key into the n-th of theirs with it. Nothing else of `theirs`
    // changes: entries that are not in `ours` stay as they are, and ours
    // that `theirs` no longer holds are not brought back. The fields are
    // moved: a page can be megabytes, and `ours` is a snapshot made for this.
    static void TakeOutcomes(std::vector<SiteEntry>&& ours, std::vector<SiteEntry>& theirs);
};
