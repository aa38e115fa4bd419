#pragma once

#include <cstddef>
#include <string>

// Replaces a file as a whole or not at all. The new content goes into a
// temporary file in the target's own folder (so the final rename stays on one
// file system); Commit() flushes it to the disk and renames it over the
// target. Until then, and whenever a step fails, the old file is untouched,
// and a temporary file that was not committed is removed.
//
// A symbolic link as target is followed: the file it points to is replaced
// and the link stays. The new file keeps the old one's permission bits; a
// file that did not exist gets 0644. Only a regular file is ever replaced,
// and not one that is read-only (no write bit at all, or not writable by
// this user). Opening also removes temporary files of earlier writers to the
// same target that died before their rename; a writer that is still at work
// keeps its file (it holds a lock on it).
class AtomicFile
{
public:
    explicit AtomicFile(std::string target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Open();
    // Writes all `size` bytes or fails.
    bool Write(const char* data, std::size_t size);
    bool Commit();

    // Why the last step failed, in one line.
    const std::string& Error() const { return m_error; }

private:
    bool Fail(const char* what, int error, bool withReason = true);
    void Discard();

    std::string m_target;
    std::string m_tempPath;
    int m_fd = -1;
    int m_lockFd = -1;
    std::string m_error;
};
