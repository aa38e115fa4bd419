#pragma once

#include "monitor/SiteList.h"
#include "platform/InputFile.h"

#include <chrono>
#include <functional>

#include <string>
#include <vector>

// kestrelle.dat: the site list between runs. Plain text, one field per line,
// CR LF line breaks on every system, no header and no escaping, so a file
// moves between this program and the Windows one unchanged. Per entry:
//
//   URL, Status, Last Check, Text to Search For,
//   "BEGIN RESPONSE", the page text over as many lines as it has,
//   "END RESPONSE", Email Address.
//
// Neither operation throws; each reports on standard error what went wrong.
class DataFile
{
public:
    // Appends the file's entries to `list`, each with mark 0. A missing file
    // is no error and leaves the list as it is. False when the file is there
    // but cannot be opened or read; the entries read before stay.
    static bool LoadSites(SiteList& list, const std::string& path);
    // The same into `out`, for a caller that puts them in at once
    // (SiteList::Assign, one reset for a view instead of one insert each).
    // `stamp` gets the stamp of the file read (not present when absent),
    // `error` why it could not be read.
    static bool ReadEntries(const std::string& path, std::vector<SiteEntry>& out,
                            InputFile::Stamp* stamp = nullptr, std::string* error = nullptr);

    // Rewrites the file from the whole list, as it stood at one moment
    // during the call. Entries whose URL has fewer than two characters are left out.
    // The old file is replaced only by a complete new one: on any failure it
    // stays as it was, one line goes to standard error and the result is
    // false. A file that is read-only or not a regular file is never
    // replaced. Saves never overlap, from any list to any path, in this
    // process or in others (WithTurn).
    static bool SaveSites(const SiteList& list, const std::string& path);
    static bool SaveEntries(const std::vector<SiteEntry>& entries, const std::string& path);

    // Runs `save` in the turn of every saver of lists in the file's folder,
    // in this process and in others, so that what it reads of the file is
    // still the file when it writes. A save waits for its turn at most
    // kTurnBound; then it fails with one line on standard error.
    static bool WithTurn(const std::string& path, const std::function<bool()>& save);
    static constexpr std::chrono::seconds kTurnBound{30};
    // SaveEntries for a caller in its turn; `written` gets the new file's
    // stamp.
    static bool WriteEntries(const std::vector<SiteEntry>& entries, const std::string& path,
                             InputFile::Stamp* written = nullptr);

    // The user's list: AppPaths::DataFile().
    static std::string DefaultPath();

    // The reader's line buffer: a longer line arrives in pieces this long.
    static constexpr std::size_t kPieceLength = 24999;
};
