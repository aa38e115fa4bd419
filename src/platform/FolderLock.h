#pragma once

#include <chrono>
#include <string>

// The turn of one writer among all processes that save files in one folder:
// an flock on the folder itself, held while the object lives. A lock on the
// folder, unlike one on the file, stays the same lock when a save renames a
// new file over the old one, and needs no file of its own. The kernel drops
// it when its holder dies, however it dies; the wait is bounded all the
// same, so that a holder stopped for good cannot hold a save up for ever.
class FolderLock
{
public:
    FolderLock(const std::string& folder, std::chrono::milliseconds bound);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // True when the wait ended without the turn: someone else kept it for
    // the whole bound. A folder that cannot be opened has no turn to wait
    // for (what is saved there fails on its own) and is not a time-out.
    bool TimedOut() const { return m_timedOut; }

private:
    int m_fd = -1;
    bool m_timedOut = false;
};
