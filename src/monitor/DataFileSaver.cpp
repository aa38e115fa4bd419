#include "monitor/DataFileSaver.h"

#include "monitor/DataFile.h"
#include "monitor/SiteList.h"

#include <algorithm>
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

DataFileSaver::DataFileSaver(std::string path) : m_path(std::move(path))
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

bool DataFileSaver::SaveAndWait(const SiteList& list)
{
    return WaitFor(Queue(list));
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
        const bool ok = DataFile::SaveSites(list, m_path);
        lock.lock();
        m_written = ticket;
        m_lastOk = ok;
        m_changed.notify_all();
    }
}
