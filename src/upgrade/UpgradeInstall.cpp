#include "upgrade/UpgradeInstall.h"

#include "net/FetchAddress.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Judged the way the fetcher will read the address, so that what is checked
// is what is fetched.
bool IsHttps(const std::string& address)
{
    const auto parts =
        FetchAddress::Split(FetchAddress::Canonicalize(FetchAddress::FullAddress(address)));
    return parts && parts->secure();
}

bool IsDirectory(const char* path)
{
    struct stat st
    {
    };
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string UpgradeInstall::RefusalReason(const std::string& pageUrl, const std::string& link)
{
    if (link.empty())
        return "the upgrade page names no download link";
    if (!IsHttps(pageUrl))
        return "the upgrade page " + pageUrl + " is not an https address";
    if (!IsHttps(link))
        return "the download link " + link + " is not an https address";
    return {};
}

std::string UpgradeInstall::MakePrivateFolder()
{
    std::string base;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsDirectory(runtime))
        base = runtime;
    if (base.empty()) {
        const char* temp = std::getenv("TMPDIR");
        base = temp && temp[0] == '/' && IsDirectory(temp) ? temp : "/tmp";
    }
    std::string name = base + "/kestrelle-upgrade-XXXXXX";
    // mkdtemp makes the folder with mode 0700 and a name nobody could have
    // taken before us.
    if (!mkdtemp(name.data()))
        return {};
    return name;
}

void UpgradeInstall::RemoveFolder(const std::string& folder)
{
    if (folder.empty())
        return;
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

bool UpgradeInstall::Exists(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    return errno != ENOENT;
}

bool UpgradeInstall::MakeRunnable(const std::string& path)
{
    struct stat st
    {
    };
    if (stat(path.c_str(), &st) != 0)
        return false;
    return chmod(path.c_str(), (st.st_mode & 07777) | S_IXUSR) == 0;
}

bool UpgradeInstall::RunAndWait(const std::string& program, const std::string& argument,
                                const std::string& workingDir)
{
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()),
                    nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}
