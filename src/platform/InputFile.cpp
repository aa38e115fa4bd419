#include "platform/InputFile.h"

#include <cerrno>
#include <fcntl.h>
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
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd >= 0)
        return OpenResult::Opened;
    // Only "no such file" means absent; a file we may not read, a broken
    // path or anything else is a failure the caller must not take for an
    // empty list.
    if (errno == ENOENT)
        return OpenResult::Absent;
    m_error = ErrnoText(errno);
    return OpenResult::Failed;
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
