#pragma once

#include <string>

// Where the program's own files live: the data file, the default sound and
// the help file sit beside the executable, as they do in the Windows build.
class AppPaths
{
public:
    // The executable's directory, without a trailing separator.
    static std::string ExecutableDir();

    // ExecutableDir() + separator + name.
    static std::string BesideExecutable(const std::string& name);

    static constexpr char kSeparator = '/';
};
