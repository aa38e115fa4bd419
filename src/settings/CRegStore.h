#pragma once

#include <cstddef>
#include <string>

// The per-user store the program's settings live in: named text values under
// a key, numbers as decimal text, nothing ever deleted. Every operation stands
// alone and writes at the moment of the call.
//
// Here the user's "Software" key is the INI file
// $XDG_CONFIG_HOME/Kestrelle/Kestrelle.conf (~/.config/... when the variable
// is unset or not an absolute path), looked up afresh at every operation; a
// key is a group of that file ([Kestrelle]) and a value one name=value line
// as QSettings writes it. Value names are matched without regard to ASCII
// case, as the registry matches them.
//
// The file holds the SMTP password in clear, so it is created with mode 0600
// and every write leaves it so. A write never changes the file in place: the
// new content is complete and synced on disk before it is renamed over the
// old file, so a crash or a full disk leaves the old file or the new one,
// never a torn one. Writers of all processes take turns through the lock file
// beside it (the one QSettings itself uses), so two processes writing at once
// lose neither value. Reads need no lock: they see the file before or after a
// write, never between.
//
// Safe to call from any thread; the operations share no state but the
// folder set for tests.
enum class RegRoot
{
    CurrentUser
};

class CRegStore
{
public:
    // The key every caller passes: the product name.
    static constexpr const char* kProductKey = "Kestrelle";
    // The base path every reader passes.
    static constexpr const char* kSoftware = "Software";

    // A value is read through a buffer of this many bytes, terminator
    // included: a stored text of kReadBufferBytes - 1 bytes or more reads as
    // missing.
    static constexpr std::size_t kReadBufferBytes = 1000;
    // Longer texts are refused by WriteString, not cut: a cut password or
    // address would fail later in a way nobody could trace back here.
    static constexpr std::size_t kMaxWriteChars = 9999;

    // Sets value `name` under Software\<key> to `text`, replacing the value
    // under every letter case of the name. False when the value could not be
    // stored (folder or file not writable, lock not had within a few seconds,
    // text too long, a name or key the store cannot hold); the refusals of
    // this call's own arguments also say so in one line on standard error.
    static bool WriteString(const std::string& key, const std::string& name,
                            const std::string& text);

    // The text of value `name` under <base>\<key>. Empty when the key or value
    // is missing, when the text does not fit the read buffer, and when it is
    // exactly "-". This store holds the user's "Software" key only: any other
    // base reads as a missing key.
    static std::string ReadString(RegRoot root, const std::string& base, const std::string& key,
                                  const std::string& name);

    // ReadString(CurrentUser, "Software", key, name) as a number: -1 when the
    // text is empty, otherwise DecimalValue of it.
    static int ReadInt(const std::string& key, const std::string& name);

    // The program's one decimal conversion: leading white space skipped, an
    // optional sign, digits up to the first non-digit; no digits gives 0.
    // Values beyond the 32-bit range give the nearest end of that range.
    static int DecimalValue(const std::string& text);

    // The file the store reads and writes at this moment.
    static std::string FilePath();

    // Points the store at `folder` in place of the user's configuration
    // folder (the file becomes folder/Kestrelle/Kestrelle.conf); an empty
    // text goes back to the user's. Returns the previous setting. For tests,
    // which must never touch the user's own settings.
    static std::string SetConfigFolderForTests(const std::string& folder);
};
