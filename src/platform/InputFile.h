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

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    OpenResult Open(const std::string& path);

    // Bytes read into `buffer`, 0 at the end of the file, -1 on a read error
    // (Error() says why).
    long Read(char* buffer, std::size_t size);

    const std::string& Error() const { return m_error; }

private:
    int m_fd = -1;
    std::string m_error;
};
