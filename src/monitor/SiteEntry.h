#pragma once

#include <array>
#include <ctime>
#include <string>

// One watched site: six text fields, addressed by column as the list view
// shows them, and the mark (kErrorMark after a failed check, else 0).
struct SiteEntry
{
    enum Column
    {
        Url = 0,
        Status = 1,
        LastCheck = 2,
        SearchText = 3,
        LastResponse = 4,
        EmailAddress = 5,
    };
    static constexpr int kColumnCount = 6;
    static constexpr int kErrorMark = 101;

    std::array<std::string, kColumnCount> fields;
    int mark = 0;
    // Why the last check of this run of the program ended as it did, and how
    // long its fetch took in seconds (below 0: not checked yet). Not stored:
    // the first pass after start-up fills them again.
    std::string reason;
    double seconds = -1;
    // Kept in memory only as well, and never in the data file: when the
    // running outage began (the Last Check of its first failure; 0 when not
    // known, as after a start), and the server certificate's end of validity
    // at the last check (0: not https or not known).
    std::time_t outageStart = 0;
    std::time_t certificateExpiry = 0;

    const std::string& field(int column) const { return fields.at(static_cast<size_t>(column)); }
    std::string& field(int column) { return fields.at(static_cast<size_t>(column)); }
};
