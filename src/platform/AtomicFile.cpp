#include "platform/AtomicFile.h"

#include "platform/AppPaths.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {
constexpr mode_t kNewFileMode = 0644;

std::string NameOf(const std::string& path)
{
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Removes the temporary files that earlier saves to the same target left
// behind when their process died before the rename. A writer holds an
// exclusive flock on its temporary file from just after making it until
// the rename, and the kernel drops it when the writer dies: a file whose
// lock can be taken belongs to nobody. One taken between a writer's making
// and locking its file is caught by the writer, which then sees its file
// unlinked and makes another. The writer locks through the descriptor that
// made the file, never by opening its name again: the name may be gone by
// then.
void RemoveLeftovers(const std::string& folder, const std::string& prefix, const std::string& own)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string path = folder + "/" + name;
        if (path == own)
            continue;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat held, named;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 &&
            S_ISREG(held.st_mode) && ::lstat(path.c_str(), &named) == 0 &&
            held.st_ino == named.st_ino && held.st_dev == named.st_dev)
            ::unlink(path.c_str());
        ::close(fd); // also drops the lock
    }
    ::closedir(dir);
}
} // namespace

AtomicFile::AtomicFile(std::string target) : m_target(std::move(target)) {}

AtomicFile::~AtomicFile()
{
    Discard();
}

bool AtomicFile::Fail(const char* what, int error, bool withReason)
{
    m_error = what;
    if (withReason)
        m_error += ": " + std::error_code(error, std::generic_category()).message();
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
    if (m_lockFd >= 0) {
        ::close(m_lockFd);
        m_lockFd = -1;
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
        m_target = to.front() == '/' ? to : AppPaths::FolderOf(m_target) + "/" + to;
    }
    mode_t mode = kNewFileMode;
    if (::stat(m_target.c_str(), &st) == 0) {
        // A FIFO, a device node (/dev/null) or a folder is never replaced by
        // a regular file: the rename would destroy it.
        if (!S_ISREG(st.st_mode))
            return Fail("it is not a regular file", EINVAL, false);
        // Read-only means the user wants it left alone, also when the
        // folder would let us rename over it (and also for root).
        if ((st.st_mode & 0222) == 0 || ::access(m_target.c_str(), W_OK) != 0)
            return Fail("it is read-only", EACCES, false);
        mode = st.st_mode & 07777;
    }

    // Hidden, and named after the target, so that a temporary file left by a
    // crash is recognisable and never taken for a list of its own.
    const std::string prefix = "." + NameOf(m_target) + ".new-";
    const std::string folder = AppPaths::FolderOf(m_target);
    for (int attempt = 0;; ++attempt) {
        std::string pattern = folder + "/" + prefix + "XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0)
            return Fail("cannot create a file beside it", errno);
        m_fd = fd;
        m_tempPath = pattern;
        // The lock goes with the open file, which a second descriptor of it
        // shares: the data descriptor can then be closed (and its errors
        // seen) before the rename while the file stays locked until the
        // rename is done.
        if (::flock(m_fd, LOCK_EX) != 0)
            return Fail("cannot lock the file beside it", errno);
        m_lockFd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
        if (m_lockFd < 0)
            return Fail("cannot lock the file beside it", errno);
        struct stat own;
        if (::fstat(m_lockFd, &own) == 0 && own.st_nlink > 0)
            break;
        // Another save took it for a leftover in the moment before our lock.
        m_tempPath.clear();
        Discard();
        if (attempt == 10)
            return Fail("cannot create a file beside it", EEXIST);
    }
    if (::fchmod(m_fd, mode) != 0)
        return Fail("cannot set its permissions", errno);
    RemoveLeftovers(folder, prefix, m_tempPath);
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
    ::close(std::exchange(m_lockFd, -1));

    // Make the rename itself survive a power cut. The new content is in
    // place already, so a folder that cannot be flushed is not a failure.
    const int dir =
        ::open(AppPaths::FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}
