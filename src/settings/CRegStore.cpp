#include "settings/CRegStore.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto npos = std::string_view::npos;
constexpr mode_t kOwnerOnly = 0600;
// The escapes of a value that a plain line cannot hold, and what they mean.
constexpr std::string_view kCoded = "\\nrst", kPlain = "\\\n\r \t";

std::mutex g_mutex; // guards the two texts below
std::string g_testFolder, g_lastReadComplaint;
// Threads of this process queue here, so that only one of them at a time
// waits for the lock file.
std::mutex g_writers;

std::string Folded(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

std::string_view Trimmed(std::string_view s)
{
    const std::size_t first = s.find_first_not_of(" \t");
    return first == npos ? std::string_view()
                         : s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Unescaped(std::string_view t)
{
    std::string out;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const std::size_t k = t[i] == '\\' && i + 1 < t.size() ? kCoded.find(t[i + 1]) : npos;
        out += k == npos ? t[i] : kPlain[k];
        i += k != npos;
    }
    return out;
}

// The line for a value: plain when reading gives the text back as it is,
// otherwise marked with "\=" and escaped (blanks only at either end).
std::string ValueLine(const std::string& name, std::string_view text)
{
    if (text.find_first_of("\r\n") == npos && Trimmed(text).size() == text.size())
        return name + "=" + std::string(text);
    std::string line = name + "\\=";
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::size_t k = kPlain.find(text[i]);
        if (k >= 3 && k != npos && i != 0 && i + 1 != text.size())
            k = npos;
        line += k == npos ? std::string(1, text[i]) : std::string{'\\', kCoded[k]};
    }
    return line;
}

std::vector<std::string> SplitLines(const std::string& content)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < content.size(); start = end + 1) {
        end = std::min(content.find('\n', start), content.size());
        lines.emplace_back(content, start, end - start);
    }
    return lines;
}

std::string_view WithoutCr(std::string_view line)
{
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// Calls seen(index, folded name, value) for each value line of group `key`,
// and returns the index just after the group's last header or value line
// (npos when there is no such group). Other lines are none of its business.
template <class Seen>
std::size_t ScanGroup(const std::vector<std::string>& lines, const std::string& key, Seen seen)
{
    const std::string group = Folded(key);
    std::size_t end = npos;
    bool inGroup = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view t = Trimmed(WithoutCr(lines[i]));
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t[0] == '[' && t.back() == ']' && t.size() > 1) {
            inGroup = Folded(Trimmed(t.substr(1, t.size() - 2))) == group;
            end = inGroup ? i + 1 : end;
            continue;
        }
        const std::size_t eq = t.find('=');
        std::string_view name = t.substr(0, eq);
        const bool escaped = !name.empty() && name.back() == '\\';
        name = Trimmed(escaped ? name.substr(0, name.size() - 1) : name);
        if (!inGroup || eq == npos || name.empty())
            continue;
        end = i + 1;
        const std::string_view value = Trimmed(t.substr(eq + 1));
        seen(i, Folded(name), escaped ? Unescaped(value) : std::string(value));
    }
    return end;
}

std::string ConfigHome()
{
    {
        std::lock_guard lock(g_mutex);
        if (!g_testFolder.empty())
            return g_testFolder;
    }
    // A relative XDG_CONFIG_HOME is to be ignored, as an unset one is.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

// Reads the file only when it is a regular one, opened without blocking so
// that a FIFO of that name cannot hold the program up. False, with `why`,
// when it is refused; a missing file is empty. A writer makes the file when
// it is missing, 0600 from the start, and puts one that lost its 0600 back
// to it, since the next version takes over its mode.
bool ReadRegular(const std::string& path, std::string& content, std::string& why, bool writer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | (writer ? O_CREAT : 0),
                          kOwnerOnly);
    struct stat st = {};
    if (fd < 0 && (writer || (errno != ENOENT && errno != ENOTDIR)))
        why = path + " cannot be opened: " + std::strerror(errno);
    else if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)))
        why = path + " is not a regular file";
    else if (fd >= 0 && writer && (st.st_mode & 07777) != kOwnerOnly && ::fchmod(fd, kOwnerOnly))
        why = path + " cannot be made private: " + std::strerror(errno);
    char buffer[65536];
    for (ssize_t n = 1; fd >= 0 && why.empty() && n != 0;) {
        n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            content.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EINTR)
            why = path + " cannot be read: " + std::strerror(errno);
    }
    if (fd >= 0)
        ::close(fd);
    return why.empty();
}

// One writer's turn across processes. flock is let go by the kernel when its
// holder dies, however it dies; the wait is bounded all the same (10 s), so
// that a holder stopped for good cannot freeze the caller.
struct WriterTurn
{
    explicit WriterTurn(const std::string& lockPath)
        : fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kOwnerOnly))
    {
        for (int waits = 0; fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0; ++waits) {
            if (errno == EWOULDBLOCK && waits < 2000) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            } else {
                ::close(fd);
                fd = -1;
            }
        }
    }
    ~WriterTurn()
    {
        if (fd >= 0)
            ::close(fd);
    }
    std::lock_guard<std::mutex> sameProcess{g_writers};
    int fd;
};

bool Refuse(const std::string& name, const std::string& why)
{
    std::fprintf(stderr, "Kestrelle: setting \"%s\" not saved: %s\n", name.c_str(), why.c_str());
    return false;
}

} // namespace

bool CRegStore::WriteString(const std::string& key, const std::string& name,
                            const std::string& text)
{
    if (text.size() > kMaxWriteChars)
        return Refuse(name, "its text has " + std::to_string(text.size()) +
                                " characters, more than the " + std::to_string(kMaxWriteChars) +
                                " the store keeps");
    // A name or key that reading would not give back: empty, line breaks,
    // blanks at either end, "=", read as a comment or group, or the marker.
    const auto fits = [](std::string_view s) {
        return !s.empty() && s.find_first_of("\r\n") == npos && Trimmed(s).size() == s.size();
    };
    if (!fits(name) || name.find('=') != npos || std::string_view("[;#").find(name[0]) != npos ||
        name.back() == '\\' || !fits(key) || key.find(']') != npos)
        return Refuse(name, "the settings file cannot hold that name under key \"" + key + "\"");

    const std::string path = FilePath();
    const std::string folder = AppPaths::FolderOf(path);
    if (!AppPaths::MakeFolders(folder))
        return Refuse(name, "the folder " + folder + " cannot be made");
    // Opening the new file also removes the files of writers killed before
    // their rename, each with a copy of the password in it.
    const WriterTurn turn(path + ".lock");
    if (turn.fd < 0)
        return Refuse(name, path + ".lock stays locked by another program");
    std::string content, why;
    if (!ReadRegular(path, content, why, true))
        return Refuse(name, why);

    // The last line that sets the name (in any case) is replaced where it
    // stands and earlier ones go; a new name follows the group's last value,
    // a new group goes at the end. Every other line stays as it is.
    std::vector<std::string> lines = SplitLines(content);
    const std::string eol = !lines.empty() && WithoutCr(lines[0]) != lines[0] ? "\r" : "";
    const std::string folded = Folded(name), line = ValueLine(name, text) + eol;
    std::vector<std::size_t> hits;
    const std::size_t end = ScanGroup(lines, key, [&](std::size_t i, const std::string& n, auto&&) {
        if (n == folded)
            hits.push_back(i);
    });
    if (!hits.empty()) {
        lines[hits.back()] = line;
        for (std::size_t h = hits.size() - 1; h-- > 0;)
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(hits[h]));
    } else if (end != npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), line);
    } else {
        if (!lines.empty() && !Trimmed(WithoutCr(lines.back())).empty())
            lines.push_back(eol);
        lines.push_back("[" + key + "]" + eol);
        lines.push_back(line);
    }
    std::string after;
    for (const std::string& l : lines)
        after += l + "\n";

    AtomicFile file(path);
    if (!file.Open() || !file.Write(after.data(), after.size()) || !file.Commit())
        return Refuse(name, path + ": " + file.Error());
    return true;
}

std::string CRegStore::ReadString(RegRoot root, const std::string& base, const std::string& key,
                                  const std::string& name)
{
    if (root != RegRoot::CurrentUser || Folded(base) != Folded(kSoftware))
        return {};
    return ValueIn(ReadAll(key), name);
}

CRegStore::Values CRegStore::ReadAll(const std::string& key)
{
    std::string content, why;
    const bool read = ReadRegular(FilePath(), content, why, false);
    {
        // Readers come one after another: one line per trouble, not one per
        // reading.
        std::lock_guard lock(g_mutex);
        if (!read && why != g_lastReadComplaint)
            std::fprintf(stderr, "Kestrelle: settings not read, defaults used: %s\n", why.c_str());
        g_lastReadComplaint = why;
    }
    Values values;
    ScanGroup(SplitLines(content), key,
              [&](std::size_t, const std::string& n, std::string v) { values[n] = std::move(v); });
    for (auto& [name, text] : values)
        if (text.size() + 1 >= kReadBufferBytes || text == "-")
            text.clear();
    return values;
}

std::string CRegStore::ValueIn(const Values& values, const std::string& name)
{
    const auto found = values.find(Folded(name));
    return found == values.end() ? std::string() : found->second;
}

int CRegStore::ReadInt(const std::string& key, const std::string& name)
{
    const std::string text = ReadString(RegRoot::CurrentUser, kSoftware, key, name);
    if (text.empty())
        return -1;
    return DecimalValue(text);
}

int CRegStore::DecimalValue(const std::string& text)
{
    // White space as the C locale knows it, whatever locale the process has.
    std::size_t i = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
    const bool negative = i < text.size() && text[i] == '-';
    i += i < text.size() && (text[i] == '-' || text[i] == '+');
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value <= INT_MAX; ++i)
        value = value * 10 + (text[i] - '0');
    return static_cast<int>(std::clamp(negative ? -value : value, static_cast<long long>(INT_MIN),
                                       static_cast<long long>(INT_MAX)));
}

std::string CRegStore::FilePath()
{
    return ConfigHome() + "/Kestrelle/Kestrelle.conf";
}

std::string CRegStore::SetConfigFolderForTests(const std::string& folder)
{
    std::lock_guard lock(g_mutex);
    std::string previous = std::move(g_testFolder);
    g_testFolder = folder;
    return previous;
}
