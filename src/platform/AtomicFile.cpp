#include "platform/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {
constexpr mode_t kNewFileMode = 0644;

std::string FolderOf(const std::string& path)
{
    const auto cut = path.rfind('/');
    if (cut == std::string::npos)
        return ".";
    if (cut == 0)
        return "/";
    return path.substr(0, cut);
}

std::string NameOf(const std::string& path)
{
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
} // namespace

AtomicFile::AtomicFile(std::string target) : m_target(std::move(target)) {}

AtomicFile::~AtomicFile()
{
    Discard();
}

bool AtomicFile::Fail(const char* what, int error)
{
    m_error = std::string(what) + ": " + std::error_code(error, std::generic_category()).message();
    Discard();
    return false;
}

void AtomicFile::Discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
}

bool AtomicFile::Open()
{
    Discard();
    // Follow links one hop at a time, so that a link to a file that does
    // not exist yet still leads to where that file belongs.
    struct stat st;
    for (int hops = 0; hops < 40 && ::lstat(m_target.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
         ++hops) {
        char link[PATH_MAX];
        const ssize_t n = ::readlink(m_target.c_str(), link, sizeof link - 1);
        if (n <= 0)
            break;
        const std::string to(link, static_cast<std::size_t>(n));
        m_target = to.front() == '/' ? to : FolderOf(m_target) + "/" + to;
    }
    mode_t mode = kNewFileMode;
    if (::stat(m_target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        mode = st.st_mode & 07777;

    // Hidden, and named after the target, so that a temporary file left by a
    // crash is recognisable and never taken for a list of its own.
    std::string pattern = FolderOf(m_target) + "/." + NameOf(m_target) + ".new-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return Fail("cannot create a file beside it", errno);
    m_fd = fd;
    m_tempPath = pattern;
    if (::fchmod(m_fd, mode) != 0)
        return Fail("cannot set its permissions", errno);
    return true;
}

bool AtomicFile::Write(const char* data, std::size_t size)
{
    if (m_fd < 0)
        return Fail("cannot write", EBADF);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail("cannot write", errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit()
{
    if (m_fd < 0)
        return Fail("cannot write", EBADF);
    if (::fsync(m_fd) != 0)
        return Fail("cannot flush it to the disk", errno);
    const int fd = std::exchange(m_fd, -1);
    if (::close(fd) != 0)
        return Fail("cannot write", errno);
    if (::rename(m_tempPath.c_str(), m_target.c_str()) != 0)
        return Fail("cannot replace it", errno);
    m_tempPath.clear();

    // Make the rename itself survive a power cut. The new content is in
    // place already, so a folder that cannot be flushed is not a failure.
    const int dir = ::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
