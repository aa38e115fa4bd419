#pragma once

#include <cstddef>
#include <map>
#include <string>

// The per-user store of the program's settings: named text values under a
// key, numbers as decimal text, nothing ever deleted. Each operation reads or
// writes the file at the moment of the call; safe from any thread.
//
// The "Software" key is $XDG_CONFIG_HOME/Kestrelle/Kestrelle.conf (~/.config
// when the variable is unset or relative), a key is a group ([Kestrelle]) and
// a value a "name=value" line, made to be edited by hand as well:
// - names match without regard to ASCII case; of two lines the later wins;
// - a value is everything after the first "=", blanks around it left out,
//   taken literally: no quotes, comments or lists;
// - a value a plain line cannot hold (line breaks, blanks at either end) is
//   written as "name\=text", with the escapes \\ \n \r \s (space) \t (tab)
//   in that text only: every plain line reads as typed, backslashes included;
// - lines it does not own (comments, blank lines, other groups) stay as they
//   are when the file is rewritten.
// The file holds the SMTP password: it is 0600 from its first byte. A write
// replaces it whole (AtomicFile), writers of all processes taking turns with
// flock on Kestrelle.conf.lock; reads need no lock. Only a regular file is
// read or replaced: anything else by that name (a FIFO, say) is refused with
// one line on standard error.
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
    // Longer texts (in bytes) are refused by WriteString, not cut: a cut
    // password or address would fail later in a way nobody could trace.
    static constexpr std::size_t kMaxWriteChars = 9999;

    // Sets value `name` under Software\<key> to `text`, under every letter
    // case of the name. False, said in one line on standard error, when it
    // could not be stored.
    static bool WriteString(const std::string& key, const std::string& name,
                            const std::string& text);

    // The text of value `name` under <base>\<key>; empty when it is missing,
    // does not fit the read buffer or is exactly "-". Only the "Software"
    // base is held.
    static std::string ReadString(RegRoot root, const std::string& base, const std::string& key,
                                  const std::string& name);

    // Every value under Software\<key>, from one reading of the file: what
    // ReadString gives, for each name the file holds (in lower case).
    using Values = std::map<std::string, std::string>;
    static Values ReadAll(const std::string& key);
    // The text of `name` among `values`; empty when it is missing.
    static std::string ValueIn(const Values& values, const std::string& name);

    // ReadString(CurrentUser, "Software", key, name) as a number: -1 when the
    // text is empty, otherwise DecimalValue of it.
    static int ReadInt(const std::string& key, const std::string& name);

    // The program's one decimal conversion: leading white space skipped, an
    // optional sign, digits up to the first non-digit; no digits gives 0.
    // Values beyond the 32-bit range give the nearest end of that range.
    static int DecimalValue(const std::string& text);

    // The file the store reads and writes at this moment.
    static std::string FilePath();

    // Tests only: `folder` in place of the user's configuration folder (empty:
    // the user's again). Returns the previous setting.
    static std::string SetConfigFolderForTests(const std::string& folder);
};
