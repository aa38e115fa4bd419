#include "platform/InputFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {
std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}
} // namespace

InputFile::~InputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

InputFile::OpenResult InputFile::Open(const std::string& path)
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // Without O_NONBLOCK, opening a FIFO waits for a writer for ever; a
    // device such as /dev/zero never ends. Only a regular file is read.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        // Only "no such file" means absent; a file we may not read, a
        // broken path or anything else is a failure the caller must not
        // take for an empty list.
        if (errno == ENOENT)
            return OpenResult::Absent;
        m_error = ErrnoText(errno);
        return OpenResult::Failed;
    }
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_error = S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file";
        ::close(m_fd);
        m_fd = -1;
        return OpenResult::Failed;
    }
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_NONBLOCK);
    return OpenResult::Opened;
}

long InputFile::Read(char* buffer, std::size_t size)
{
    if (m_fd < 0) {
        m_error = ErrnoText(EBADF);
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR) {
            m_error = ErrnoText(errno);
            return -1;
        }
    }
}
