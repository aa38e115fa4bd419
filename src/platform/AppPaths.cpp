#include "platform/AppPaths.h"

#include <climits>
#include <unistd.h>

std::string AppPaths::ExecutableDir()
{
    // /proc/self/exe works with or without Qt running. Paths are not bounded
    // to 260 characters here: the platform's own limit applies.
    char buf[PATH_MAX + 1];
    const ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0)
        return ".";
    std::string path(buf, static_cast<size_t>(n));
    const auto cut = path.rfind(kSeparator);
    if (cut == std::string::npos)
        return ".";
    if (cut == 0)
        return "/";
    return path.substr(0, cut);
}

std::string AppPaths::BesideExecutable(const std::string& name)
{
    std::string dir = ExecutableDir();
    if (dir.empty() || dir.back() != kSeparator)
        dir += kSeparator;
    return dir + name;
}
