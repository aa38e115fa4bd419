#pragma once

#include <cstddef>
#include <string>

// A file opened for reading, byte for byte (no text-mode translation: the
// callers deal with line ends themselves, the same on every system).
class InputFile
{
public:
    enum class OpenResult
    {
        Opened,
        Absent, // nothing by that name: not a failure
        Failed, // it is there but cannot be opened; Error() says why
    };

    // Which file a name stood for and how it was: a save by anyone else, or
    // an edit in place, gives another stamp.
    struct Stamp
    {
        bool present = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long modified = 0, changed = 0; // nanoseconds
        bool operator==(const Stamp&) const = default;
    };

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    OpenResult Open(const std::string& path);

    // Bytes read into `buffer`, 0 at the end of the file, -1 on a read error
    // (Error() says why).
    long Read(char* buffer, std::size_t size);

    const std::string& Error() const { return m_error; }

    // The open file's stamp.
    Stamp FileStamp() const;
    // The stamp of the file a path names now; not present when it names none.
    static Stamp StampOf(const std::string& path);

    // Reads of `path` fail with an input/output error once `bytes` of it
    // have been read, as a failing disk does; an empty path ends it.
    static void FailReadsForTests(const std::string& path, std::size_t bytes);

private:
    int m_fd = -1;
    std::size_t m_read = 0;
    std::size_t m_failAfter = static_cast<std::size_t>(-1);
    std::string m_error;
};
