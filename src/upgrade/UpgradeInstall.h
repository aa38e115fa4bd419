#pragma once

#include <string>

// The operating-system half of installing an upgrade: which installer may be
// run at all, the private folder it is downloaded into, and starting the
// uninstaller and the installer one after the other.
class UpgradeInstall
{
public:
    static constexpr const char* kInstallerName = "NewUpdate.exe";
    static constexpr const char* kUninstallerName = "unins000.exe";
    // The text begins with a blank, as the old uninstaller expects.
    static constexpr const char* kUninstallerArgument = " /SILENT";

    // Why the installer at `link`, named by the page read from `pageUrl`,
    // must not be run; empty when both are https addresses as the fetcher
    // reads them (it checks every certificate). Anything less would let
    // whoever sits on the network path hand us a program to run.
    static std::string RefusalReason(const std::string& pageUrl, const std::string& link);

    // A new folder only this user can enter (mode 0700) under
    // $XDG_RUNTIME_DIR, or the temporary folder when that is not set; empty
    // when none could be made. A fixed place such as the current directory
    // could hold a file or link someone else put there.
    static std::string MakePrivateFolder();
    // The folder and everything in it; links are removed, not followed.
    static void RemoveFolder(const std::string& folder);

    // A file counts as missing only when opening it for reading fails with
    // ENOENT.
    static bool Exists(const std::string& path);
    // Run bits for the owner; false when they could not be set.
    static bool MakeRunnable(const std::string& path);
    // Starts `program` (also its argument zero) with the one `argument` in
    // `workingDir` and waits until it ends. False when it could not be
    // started; its exit status is not looked at.
    static bool RunAndWait(const std::string& program, const std::string& argument,
                           const std::string& workingDir);
};
