#include "platform/InputFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {
std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

std::mutex g_failMutex;
std::string g_failPath;
std::size_t g_failAfter = 0;

InputFile::Stamp StampFrom(const struct stat& st)
{
    InputFile::Stamp stamp;
    stamp.present = true;
    stamp.device = st.st_dev;
    stamp.inode = st.st_ino;
    stamp.size = static_cast<unsigned long long>(st.st_size);
    stamp.modified = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    stamp.changed = st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
    return stamp;
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
    m_read = 0;
    m_failAfter = static_cast<std::size_t>(-1);
    {
        std::lock_guard lock(g_failMutex);
        if (!g_failPath.empty() && g_failPath == path)
            m_failAfter = g_failAfter;
    }
    return OpenResult::Opened;
}

long InputFile::Read(char* buffer, std::size_t size)
{
    if (m_fd < 0) {
        m_error = ErrnoText(EBADF);
        return -1;
    }
    if (m_read >= m_failAfter) {
        m_error = ErrnoText(EIO);
        return -1;
    }
    size = std::min(size, m_failAfter - m_read);
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, size);
        if (n >= 0) {
            m_read += static_cast<std::size_t>(n);
            return static_cast<long>(n);
        }
        if (errno != EINTR) {
            m_error = ErrnoText(errno);
            return -1;
        }
    }
}

InputFile::Stamp InputFile::FileStamp() const
{
    struct stat st;
    return m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? StampFrom(st) : Stamp{};
}

InputFile::Stamp InputFile::StampOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? StampFrom(st) : Stamp{};
}

void InputFile::FailReadsForTests(const std::string& path, std::size_t bytes)
{
    std::lock_guard lock(g_failMutex);
    g_failPath = path;
    g_failAfter = bytes;
}
