#pragma once

#include <string>

// Where the program's files live. The site list is the user's own and sits
// in the user's data folder, since an installed executable's folder is
// shared by every user and not writable. The program's own files (the
// default sound, the help page) come with the executable: beside it in the
// build tree, in the installed data folder when installed.
class AppPaths
{
public:
    // $XDG_DATA_HOME/Kestrelle/kestrelle.dat, or ~/.local/share/Kestrelle/
    // when XDG_DATA_HOME is unset or not an absolute path. Missing folders
    // on the way are made with mode 0700; a folder that cannot be made shows
    // up as a failure when the file is saved.
    static std::string DataFile();

    // `name` among the program's own files: <prefix>/share/kestrelle/name
    // when the executable sits in <prefix>/bin and that folder exists (an
    // installed program), otherwise beside the executable (the build tree).
    static std::string ProgramDataFile(const std::string& name);

    // The executable's directory, without a trailing separator.
    static std::string ExecutableDir();

    // ExecutableDir() + separator + name.
    static std::string BesideExecutable(const std::string& name);

    // The folder a path names its file in: "." for a bare name, "/" for a
    // file at the root.
    static std::string FolderOf(const std::string& path);
    // Makes every missing folder of `path` with mode 0700 (they hold the
    // user's list and settings). True when `path` is a folder afterwards.
    static bool MakeFolders(const std::string& path);
    // True when `path` is a folder, not a link, that belongs to this user
    // and that nobody else may write into. With `make`, a missing last
    // folder is made first, with mode 0700.
    static bool IsPrivateFolder(const std::string& path, bool make = false);

    static constexpr char kSeparator = '/';
    static constexpr const char* kDataFileName = "kestrelle.dat";
};
