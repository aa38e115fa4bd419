#pragma once

#include "monitor/CheckPass.h"

#include <ctime>
#include <string>
#include <vector>

// One pass's outcome in the Prometheus text exposition format, for
// node_exporter's textfile collector or any scraper that reads a file: per
// site whether it is up, its response time, its HTTP status and when it was
// checked, labelled by its name and its address, and for an https site when
// its certificate runs out; for the pass its length and its end. The file is replaced whole, so a
// scrape never reads half a pass.
//
// Both programs feed it from their pass's observer: PassStarted, each
// RowChecked, then Write once the pass has ended. Sites the pass did not
// reach have no lines.
class PassMetrics
{
public:
    void PassStarted();
    void RowChecked(const CheckPass::RowResult& result);

    // The whole exposition, ending in a line feed, for the pass ended at `now`.
    std::string Text(std::time_t now) const;
    // Writes Text to `path` through a temporary file and a rename. False,
    // with the reason in `error` (one line), when the file was not replaced.
    bool Write(const std::string& path, std::string& error) const;

    // A label value as the format writes it between its double quotes.
    static std::string LabelValue(const std::string& text);

private:
    struct Site
    {
        EntryId id = 0;
        std::string name, address;
        bool up = false;
        double seconds = 0;
        int httpStatus = 0;
        std::time_t checkedAt = 0;
        std::time_t certificateExpiry = 0;
    };
    // The sites in entry order, named.
    std::vector<Site> Series() const;

    std::vector<Site> m_sites; // in the order their checks ended
    double m_started = 0;      // steady clock, seconds
    double m_ended = 0;
};
