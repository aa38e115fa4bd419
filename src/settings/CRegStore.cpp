#include "settings/CRegStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

// Why the file is never handed to QSettings directly: QSettings keeps what it
// read of a file in a per-process cache and reads the file again only when
// its size or its modification time (in milliseconds) has changed. A value
// rewritten with a text of the same length within the same millisecond, by
// this process or another, is then read as the old one, and a write made on
// top of such a stale copy puts the old value back. Seen here: 1,372 of 2,000
// same-size rewrites read stale. So every operation copies the file to a
// scratch file of its own whose name this process never uses twice, and lets
// QSettings read and change only that copy; a write then puts the result in
// place itself through QSaveFile.

namespace {

std::mutex g_testFolderMutex;
std::string g_testFolder;

// Threads of one process take turns here before they take the lock file,
// which would otherwise make them poll each other.
std::mutex g_writeMutex;

std::atomic<unsigned long long> g_scratchCounter{0};

// Long enough for any other writer to finish its few milliseconds; a holder
// that has died is noticed at once by QLockFile.
constexpr int kLockWaitMs = 10000;

// A writer killed between creating the lock file and writing its process id
// into it leaves a lock that names nobody; QLockFile then goes by the lock's
// age alone. Its default of 30 s would outlast kLockWaitMs and refuse every
// write meanwhile, so such a lock is taken over after a few seconds, still
// far beyond the milliseconds that a live writer holds it.
constexpr int kStaleLockMs = 5000;

// Scratch files older than this are leftovers of a process that died in the
// middle of an operation (every operation lasts milliseconds).
constexpr qint64 kLeftoverAgeMs = 60 * 1000;

const char* const kFolderName = "Kestrelle";
const char* const kFileName = "Kestrelle.conf";
const char* const kScratchMark = ".scratch";

constexpr QFileDevice::Permissions kOwnerOnlyFile =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kOwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The registry folds the case of names; the names here are ASCII.
bool EqualsFolded(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

std::string Folded(const std::string& s)
{
    std::string out = s;
    for (char& c : out)
        c = FoldAscii(c);
    return out;
}

QString ConfigHome()
{
    {
        std::lock_guard lock(g_testFolderMutex);
        if (!g_testFolder.empty())
            return QString::fromStdString(g_testFolder);
    }
    // A relative XDG_CONFIG_HOME is to be ignored, as an unset one is.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString StoreFolder()
{
    return ConfigHome() + QLatin1Char('/') + QLatin1String(kFolderName);
}

QString StoreFile()
{
    return StoreFolder() + QLatin1Char('/') + QLatin1String(kFileName);
}

// Creates the folder and every missing folder above it, each for the owner
// only, as a configuration folder should be.
bool MakeFolder(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return true;
    if (info.exists())
        return false;
    const QString parent = info.absolutePath();
    if (parent != info.absoluteFilePath() && !MakeFolder(parent))
        return false;
    // Another process may have made it in the meantime.
    return QDir().mkdir(path, kOwnerOnlyFolder) || QFileInfo(path).isDir();
}

// The group for registry path "Software\a\b" is "a/b". Empty when the path
// does not lie under Software, has an empty part or holds a "/".
std::string GroupOf(const std::string& path)
{
    const std::string prefix = std::string(CRegStore::kSoftware) + "\\";
    if (path.size() <= prefix.size() || !EqualsFolded(path.substr(0, prefix.size()), prefix))
        return {};
    std::string group = path.substr(prefix.size());
    // In the registry "/" is a plain character of a key's name; here it
    // would open a group of its own.
    if (group.find('/') != std::string::npos)
        return {};
    for (char& c : group)
        if (c == '\\')
            c = '/';
    if (group.front() == '/' || group.back() == '/' || group.find("//") != std::string::npos)
        return {};
    return group;
}

// QSettings takes "/" and "\" in a name as group separators, so such names
// (and the registry's unnamed value) cannot be held.
bool NameFits(const std::string& name)
{
    return !name.empty() && name.find_first_of("/\\") == std::string::npos;
}

// Texts that are UTF-8 are stored as text, readable and editable by hand;
// any other bytes as QSettings' @ByteArray(...), so they come back exactly.
QVariant ToVariant(const std::string& text)
{
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const QString asText = QString::fromUtf8(bytes);
    if (asText.toUtf8() == bytes)
        return asText;
    return bytes;
}

std::optional<std::string> FromVariant(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray().toStdString();
    case QMetaType::QStringList:
        // Only a hand-edited line with unquoted commas reads as a list.
        return value.toStringList().join(QStringLiteral(", ")).toStdString();
    default:
        if (value.canConvert<QString>())
            return value.toString().toStdString();
        return std::nullopt;
    }
}

// The file's bytes; nothing when it does not exist. `failed` tells a file
// that exists but cannot be read, which a writer must not take for an empty
// store.
std::optional<QByteArray> ReadFileBytes(const QString& path, bool& failed)
{
    failed = false;
    QFile file(path);
    // Open first and ask about existence only when that fails: while another
    // thread's QSaveFile renames a new file over this one, QFile::exists()
    // now and then answers false (seen here: 370 times in 3,000 commits),
    // where open() and a plain stat() never miss the file.
    if (!file.open(QIODevice::ReadOnly)) {
        std::error_code ec;
        failed = std::filesystem::exists(path.toStdString(), ec) || ec;
        return std::nullopt;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failed = true;
        return std::nullopt;
    }
    return bytes;
}

// For each name in section [group], the index of the last line that sets it,
// as the file has it. QSettings sorts what it writes, so only the file itself
// still tells which of two spellings of a name was written last.
std::map<std::string, int> LastLines(const QByteArray& bytes, const std::string& group)
{
    std::map<std::string, int> last;
    const QList<QByteArray> lines = bytes.split('\n');
    bool inGroup = false;
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const qsizetype end = line.indexOf(']');
            inGroup = end > 0 && line.mid(1, end - 1).trimmed().toStdString() == group;
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (inGroup && eq > 0)
            last[line.left(eq).trimmed().toStdString()] = i;
    }
    return last;
}

// Among `keys`, those spelled like `name` but for case, the last written
// first. Names the scan cannot place (escaped in the file) count as earliest;
// among equals the later one in QSettings' own order comes first.
std::vector<QString> SpellingsOf(const QStringList& keys, const std::string& name,
                                 const std::map<std::string, int>& lastLines)
{
    std::vector<std::pair<std::pair<int, int>, QString>> found;
    for (int i = 0; i < keys.size(); ++i) {
        const std::string key = keys[i].toStdString();
        if (!EqualsFolded(key, name))
            continue;
        const auto at = lastLines.find(key);
        found.push_back({{at == lastLines.end() ? -1 : at->second, i}, keys[i]});
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<QString> out;
    for (const auto& entry : found)
        out.push_back(entry.second);
    return out;
}

// Where scratch copies go: the session's runtime folder when there is one
// (the owner's only, in memory on desktops, so a copy costs no disk syncs
// and never outlives the session), otherwise the store's own folder. Tests
// keep them in their own folder.
QString ScratchFolder(const QString& storeFolder)
{
    {
        std::lock_guard lock(g_testFolderMutex);
        if (!g_testFolder.empty())
            return storeFolder;
    }
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) {
        const QFileInfo info(runtime);
        if (info.isDir() && info.isWritable())
            return runtime;
    }
    return storeFolder;
}

// A copy of the store file for one operation, readable by the owner only,
// under a name this process uses once. Removed with everything QSettings
// left beside it when the object goes.
class ScratchCopy
{
public:
    ScratchCopy(const QString& folder, const QByteArray& bytes)
    {
        m_path = folder + QLatin1Char('/') + QLatin1String(kFileName) + QLatin1Char('.') +
                 QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') +
                 QString::number(++g_scratchCounter) + QLatin1String(kScratchMark);
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnlyFile))
            return;
        m_made = true;
        m_ok = file.write(bytes) == bytes.size() && file.flush();
    }
    ~ScratchCopy()
    {
        if (!m_made)
            return;
        QFile::remove(m_path);
        QFile::remove(m_path + QStringLiteral(".lock"));
    }
    ScratchCopy(const ScratchCopy&) = delete;
    ScratchCopy& operator=(const ScratchCopy&) = delete;

    bool ok() const { return m_ok; }
    const QString& path() const { return m_path; }

private:
    QString m_path;
    bool m_made = false;
    bool m_ok = false;
};

// Only files far older than any operation lasts are removed, so no live
// reader or writer, of this store or of another one sharing the runtime
// folder, loses its copy.
void RemoveLeftovers(const QString& folder)
{
    const QDir dir(folder);
    const QString prefix = QLatin1String(kFileName) + QLatin1Char('.');
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!name.startsWith(prefix) || !name.contains(QLatin1String(kScratchMark)))
            continue;
        if (entry.lastModified().toUTC().msecsTo(now) > kLeftoverAgeMs)
            QFile::remove(entry.absoluteFilePath());
    }
}

std::optional<std::string> ValueFrom(QSettings& settings, const std::string& group,
                                     const std::string& name, const QByteArray& fileBytes)
{
    settings.beginGroup(QString::fromStdString(group));
    const std::vector<QString> spellings =
        SpellingsOf(settings.childKeys(), name, LastLines(fileBytes, group));
    std::optional<std::string> text;
    if (!spellings.empty())
        text = FromVariant(settings.value(spellings.front()));
    settings.endGroup();
    return text;
}

// Sets `name` and leaves one spelling of every name in the group: for names
// held in two cases the last written stays, so that QSettings' sorted
// rewrite cannot change which one is read.
void SetValueIn(QSettings& settings, const std::string& group, const std::string& name,
                const std::string& text, const QByteArray& fileBytes)
{
    settings.beginGroup(QString::fromStdString(group));
    const QStringList keys = settings.childKeys();
    const std::map<std::string, int> lastLines = LastLines(fileBytes, group);
    std::map<std::string, bool> done;
    for (const QString& key : keys) {
        const std::string folded = Folded(key.toStdString());
        if (done[folded])
            continue;
        done[folded] = true;
        const std::vector<QString> spellings = SpellingsOf(keys, key.toStdString(), lastLines);
        const bool isTarget = folded == Folded(name);
        for (std::size_t i = isTarget ? 0 : 1; i < spellings.size(); ++i)
            settings.remove(spellings[i]);
    }
    settings.setValue(QString::fromStdString(name), ToVariant(text));
    settings.endGroup();
}

void Refuse(const std::string& key, const std::string& name, const std::string& why)
{
    std::fprintf(stderr, "Kestrelle: setting \"%s\" under \"Software\\%s\" not saved: %s\n",
                 name.c_str(), key.c_str(), why.c_str());
}

} // namespace

bool CRegStore::WriteString(const std::string& key, const std::string& name,
                            const std::string& text)
{
    if (text.size() > kMaxWriteChars) {
        Refuse(key, name,
               "its text has " + std::to_string(text.size()) + " characters, more than the " +
                   std::to_string(kMaxWriteChars) + " the store keeps");
        return false;
    }
    const std::string group = GroupOf(std::string(kSoftware) + "\\" + key);
    if (group.empty()) {
        Refuse(key, name, "the key name cannot be used");
        return false;
    }
    if (!NameFits(name)) {
        Refuse(key, name, "a setting name must not be empty nor hold \"/\" or \"\\\"");
        return false;
    }

    const QString folder = StoreFolder();
    const QString file = folder + QLatin1Char('/') + QLatin1String(kFileName);
    if (!MakeFolder(folder))
        return false;

    std::lock_guard turn(g_writeMutex);
    QLockFile lock(file + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(kLockWaitMs))
        return false;
    const QString scratchFolder = ScratchFolder(folder);
    RemoveLeftovers(folder);
    if (scratchFolder != folder)
        RemoveLeftovers(scratchFolder);

    bool unreadable = false;
    const QByteArray before = ReadFileBytes(file, unreadable).value_or(QByteArray());
    if (unreadable)
        return false;

    QByteArray after;
    {
        ScratchCopy scratch(scratchFolder, before);
        if (!scratch.ok())
            return false;
        {
            QSettings settings(scratch.path(), QSettings::IniFormat);
            SetValueIn(settings, group, name, text, before);
            settings.sync();
            if (settings.status() != QSettings::NoError)
                return false;
        }
        bool failed = false;
        after = ReadFileBytes(scratch.path(), failed).value_or(QByteArray());
        if (failed || after.isEmpty())
            return false;
    }

    // QSaveFile writes beside the file, syncs, and renames over it; the
    // permissions are set before the first byte so the password is never
    // readable by others, not even for a moment.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (!out.setPermissions(kOwnerOnlyFile) || out.write(after) != after.size()) {
        out.cancelWriting();
        return false;
    }
    if (!out.commit())
        return false;
    // The mode is what keeps the password private: make sure of it.
    return QFile::permissions(file) == kOwnerOnlyFile ||
           QFile::setPermissions(file, kOwnerOnlyFile);
}

std::string CRegStore::ReadString(RegRoot root, const std::string& base, const std::string& key,
                                  const std::string& name)
{
    if (root != RegRoot::CurrentUser)
        return {};
    const std::string group = GroupOf(base + "\\" + key);
    if (group.empty() || !NameFits(name))
        return {};

    const QString file = StoreFile();
    bool failed = false;
    const std::optional<QByteArray> bytes = ReadFileBytes(file, failed);
    if (!bytes)
        return {};

    std::optional<std::string> text;
    {
        ScratchCopy scratch(ScratchFolder(StoreFolder()), *bytes);
        if (scratch.ok()) {
            QSettings settings(scratch.path(), QSettings::IniFormat);
            text = ValueFrom(settings, group, name, *bytes);
        } else {
            // A folder we cannot write to: the file itself, with the cache's
            // small risk of a stale value, beats no settings at all.
            QSettings settings(file, QSettings::IniFormat);
            text = ValueFrom(settings, group, name, *bytes);
        }
    }
    if (!text || text->size() + 1 >= kReadBufferBytes || *text == "-")
        return {};
    return *text;
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
    std::size_t i = 0;
    // White space as the C locale knows it, whatever locale the process has.
    while (i < text.size() &&
           std::string_view(" \t\n\v\f\r").find(text[i]) != std::string_view::npos)
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 2;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < kBeyond)
            value = value * 10 + (text[i] - '0');
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

std::string CRegStore::FilePath()
{
    return StoreFile().toStdString();
}

std::string CRegStore::SetConfigFolderForTests(const std::string& folder)
{
    std::lock_guard lock(g_testFolderMutex);
    std::string previous = std::move(g_testFolder);
    g_testFolder = folder;
    return previous;
}
