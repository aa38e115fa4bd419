#include "platform/AppPaths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string HomeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string AppPaths::DataFile()
{
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        base = xdg;
    else
        base = HomeDir() + "/.local/share";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = (base == "/" ? "" : base) + "/Kestrelle";
    MakeFolders(folder);
    return folder + kSeparator + kDataFileName;
}

std::string AppPaths::FolderOf(const std::string& path)
{
    const auto cut = path.rfind(kSeparator);
    if (cut == std::string::npos)
        return ".";
    if (cut == 0)
        return "/";
    return path.substr(0, cut);
}

bool AppPaths::MakeFolders(const std::string& path)
{
    if (IsFolder(path))
        return true;
    const std::string parent = FolderOf(path);
    if (parent == path || !MakeFolders(parent))
        return false;
    return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) && IsFolder(path);
}

bool AppPaths::IsPrivateFolder(const std::string& path, bool make)
{
    if (path.empty() || path.front() != '/')
        return false;
    if (make)
        ::mkdir(path.c_str(), 0700);
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 022) == 0;
}

std::string AppPaths::ProgramDataFile(const std::string& name)
{
    const std::string dir = ExecutableDir();
    // Installed as <prefix>/bin/kestrelle with its files in
    // <prefix>/share/kestrelle; anywhere else (the build tree) they lie
    // beside the executable.
    if (dir.size() >= 4 && dir.compare(dir.size() - 4, 4, "/bin") == 0) {
        const std::string share = dir.substr(0, dir.size() - 4) + "/share/kestrelle";
        if (IsFolder(share))
            return share + kSeparator + name;
    }
    return BesideExecutable(name);
}

std::string AppPaths::ExecutableDir()
{
    // /proc/self/exe works with or without Qt running. Paths are not bounded
    // to 260 characters here: the platform's own limit applies.
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return ".";
    return FolderOf(std::string(buf, static_cast<size_t>(n)));
}

std::string AppPaths::BesideExecutable(const std::string& name)
{
    std::string dir = ExecutableDir();
    if (dir.empty() || dir.back() != kSeparator)
        dir += kSeparator;
    return dir + name;
}
