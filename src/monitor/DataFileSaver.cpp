#include "monitor/DataFileSaver.h"

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"
#include "platform/Utf8Text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// The savers alive in the process, so that a normal end of the process can
// finish their saves (the desktop's Exit ends with std::exit, which destroys
// no window and so no saver). Made once and never destroyed: exit handlers
// and writer threads use it while static objects are torn down.
struct Savers
{
    std::mutex mutex;
    std::vector<DataFileSaver*> live;
};

Savers& TheSavers()
{
    static Savers* savers = new Savers;
    return *savers;
}

void FlushAtExit()
{
    Savers& savers = TheSavers();
    std::lock_guard lock(savers.mutex);
    for (DataFileSaver* saver : savers.live)
        saver->Flush();
}

void Register(DataFileSaver* saver)
{
    static const bool registered = (std::atexit(FlushAtExit), true);
    (void)registered;
    Savers& savers = TheSavers();
    std::lock_guard lock(savers.mutex);
    savers.live.push_back(saver);
}

void Unregister(DataFileSaver* saver)
{
    Savers& savers = TheSavers();
    std::lock_guard lock(savers.mutex);
    std::erase(savers.live, saver);
}

} // namespace

DataFileSaver::DataFileSaver(std::string path, Mode mode) : m_path(std::move(path)), m_mode(mode)
{
    m_writer = std::thread([this] { WriterLoop(); });
    Register(this);
}

DataFileSaver::~DataFileSaver()
{
    Unregister(this);
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_changed.notify_all();
    }
    m_writer.join();
}

void DataFileSaver::Save(const SiteList& list)
{
    Queue(list);
}

bool DataFileSaver::SaveAndWait(SiteList& list)
{
    if (m_mode != Mode::Outcomes)
        return WaitFor(Queue(list));
    // Written here rather than by the writer, which only ever copies; the
    // saves asked for before this one are written first.
    Flush();
    const bool ok = DataFile::WithTurn(m_path, [&] { return WriteOutcomes(list.TakeEntries()); });
    std::lock_guard lock(m_mutex);
    m_lastOk = ok;
    return ok;
}

bool DataFileSaver::Flush()
{
    std::uint64_t ticket;
    {
        std::lock_guard lock(m_mutex);
        ticket = m_asked;
    }
    return WaitFor(ticket);
}

std::uint64_t DataFileSaver::Queue(const SiteList& list)
{
    std::lock_guard lock(m_mutex);
    m_pending = &list; // a save still owed needs no write of its own
    m_changed.notify_all();
    return ++m_asked;
}

bool DataFileSaver::WaitFor(std::uint64_t ticket)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_written >= ticket; });
    return m_lastOk;
}

void DataFileSaver::WriterLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        // The destructor stops the writer only once nothing is pending, so
        // a save asked for is never lost.
        m_changed.wait(lock, [&] { return m_pending || m_stop; });
        if (!m_pending)
            return;
        const SiteList& list = *m_pending;
        m_pending = nullptr;
        // Every save asked for up to here is served by a copy taken from
        // now on; a later one sets m_pending again and gets its own write.
        const std::uint64_t ticket = m_asked;
        lock.unlock();
        const bool ok = Write(list);
        lock.lock();
        m_written = ticket;
        m_lastOk = ok;
        m_changed.notify_all();
    }
}

bool DataFileSaver::Load(SiteList& list)
{
    std::vector<SiteEntry> entries;
    InputFile::Stamp stamp;
    std::string why;
    bool whole = DataFile::ReadEntries(m_path, entries, &stamp, &why);
    std::vector<std::string> keys = SiteListMerge::Keys(entries);
    std::size_t appended = 0;
    try {
        for (; appended < entries.size(); ++appended)
            list.Append(std::move(entries[appended]));
    } catch (const std::exception& e) {
        keys.resize(appended); // the rest is not in the list: the next write takes it in
        std::fprintf(stderr, "Kestrelle: cannot read the site list %s: %s\n", m_path.c_str(),
                     e.what());
        why = e.what();
        whole = false;
    }
    {
        std::lock_guard lock(m_fileMutex);
        m_baseKeys = keys;
        // What was not read is still in the file: the next write reads it
        // again first, and it joins the list, or nothing is written.
        m_baseStamp = whole ? std::optional(stamp) : std::nullopt;
        m_loadedInto = &list;
    }
    std::lock_guard lock(m_ownerMutex);
    m_loadProblem.clear();
    if (!whole)
        m_loadProblem = "The site list " + m_path + " could not be read whole (" + why +
                        ").\n\nKestrelle watches the " + std::to_string(keys.size()) +
                        " sites it could read, but saves no change to the list while the file "
                        "cannot be read whole, so that nothing in it is lost. Repair the file "
                        "or move it away: the next save then writes the list again.";
    return whole;
}

std::string DataFileSaver::LoadProblem() const
{
    std::lock_guard lock(m_ownerMutex);
    return m_loadProblem;
}

void DataFileSaver::SetChangeNotice(std::function<void()> notice)
{
    std::lock_guard lock(m_ownerMutex);
    m_notice = std::move(notice);
}

void DataFileSaver::TakeChanges(SiteList& list)
{
    std::lock_guard lock(m_changesMutex);
    SiteListMerge::Apply(m_changes, list);
    m_changes = {};
}

bool DataFileSaver::Write(const SiteList& list)
{
    return DataFile::WithTurn(m_path, [&] {
        return m_mode == Mode::Outcomes ? WriteOutcomes(list.Snapshot()) : WriteWholeList(list);
    });
}

namespace {
bool RefuseUnread(const std::string& path)
{
    std::fprintf(stderr,
                 "Kestrelle: not saved to %s: it cannot be read whole, and writing it would "
                 "lose what was not read\n",
                 path.c_str());
    return false;
}
} // namespace

bool DataFileSaver::WriteWholeList(const SiteList& list)
{
    std::unique_lock fileLock(m_fileMutex);
    const InputFile::Stamp now = InputFile::StampOf(m_path);
    bool newChanges = false;
    SiteListMerge::Changes theirs;
    // A file that is gone is written anew from the list: its going is no
    // reason to drop every entry.
    if (now.present && m_baseStamp != now) {
        std::vector<SiteEntry> entries;
        InputFile::Stamp read;
        if (!DataFile::ReadEntries(m_path, entries, &read))
            return RefuseUnread(m_path);
        std::vector<std::string> keys = SiteListMerge::Keys(entries);
        if (m_baseKeys) {
            theirs = SiteListMerge::Between(*m_baseKeys, std::move(entries));
            newChanges = !theirs.Empty();
        }
        // The changes are carried from here on, until the list has them.
        m_baseKeys = std::move(keys);
        m_baseStamp = read;
    }

    std::vector<SiteEntry> entries;
    bool owed;
    {
        std::lock_guard changesLock(m_changesMutex);
        m_changes.Append(std::move(theirs));
        entries = list.Snapshot();
        SiteListMerge::Apply(m_changes, entries);
        owed = !m_changes.Empty();
    }
    if (newChanges && owed) {
        std::unique_lock ownerLock(m_ownerMutex);
        if (m_notice) {
            m_notice();
        } else if (m_loadedInto) {
            ownerLock.unlock();
            TakeChanges(*m_loadedInto);
        }
    }

    InputFile::Stamp written;
    if (!DataFile::WriteEntries(entries, m_path, &written))
        return false;
    // Entries too short to be written are not in the file.
    std::erase_if(entries, [](const SiteEntry& e) {
        return Utf8Text::CharacterCount(e.field(SiteEntry::Url)) <= 1;
    });
    m_baseKeys = SiteListMerge::Keys(entries);
    m_baseStamp = written;
    return true;
}

bool DataFileSaver::WriteOutcomes(std::vector<SiteEntry> ours)
{
    std::vector<SiteEntry> theirs;
    InputFile::Stamp read;
    if (!DataFile::ReadEntries(m_path, theirs, &read))
        return RefuseUnread(m_path);
    // A list that is gone gets the checked entries back.
    if (!read.present)
        return DataFile::WriteEntries(ours, m_path);
    SiteListMerge::TakeOutcomes(std::move(ours), theirs);
    return DataFile::WriteEntries(theirs, m_path);
}
