#include "net/PieceSplitter.h"

#include <array>
#include <cstring>
#include <new>

namespace {

std::size_t CrCount(const char* bytes, std::size_t size)
{
    std::size_t count = 0;
    for (const char* cr = static_cast<const char*>(std::memchr(bytes, '\r', size)); cr;
         cr = static_cast<const char*>(
             std::memchr(cr + 1, '\r', size - static_cast<std::size_t>(cr + 1 - bytes))))
        ++count;
    return count;
}

// The capacity a string gets when it reserves `size` bytes from empty (the
// library rounds small requests up): what a piece made in one run holds.
std::size_t ReservedCapacity(std::size_t size)
{
    static const auto table = [] {
        std::array<std::size_t, 128> capacities{};
        for (std::size_t n = 0; n < capacities.size(); ++n) {
            std::string probe;
            probe.reserve(n);
            capacities[n] = probe.capacity();
        }
        return capacities;
    }();
    return size < table.size() ? table[size] : size;
}

} // namespace

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    // Whole runs at a time rather than byte by byte: this is on the path of
    // every page of every check.
    while (size > 0) {
        const std::size_t room = kPieceLimit - m_taken;
        const std::size_t span = size < room ? size : room;
        const auto* lf = static_cast<const char*>(std::memchr(bytes, '\n', span));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes) + 1 : span;
        const std::size_t stored = take - CrCount(bytes, take);
        if (m_pieces) {
            // A piece that lies in one run (always, when the whole body is fed
            // at once) gets exactly its size: it is the cap's unit of cost.
            if (m_taken == 0 && (lf || take == kPieceLimit)) {
                m_current.reserve(stored);
                m_exact = true;
            }
            for (std::size_t at = 0; at < take;) {
                const auto* cr = static_cast<const char*>(std::memchr(bytes + at, '\r', take - at));
                const std::size_t end = cr ? static_cast<std::size_t>(cr - bytes) : take;
                m_current.append(bytes + at, end - at);
                at = end + (cr ? 1 : 0);
            }
        }
        m_stored += stored;
        m_taken += take;
        bytes += take;
        size -= take;
        if (lf || m_taken == kPieceLimit)
            Emit();
    }
}

void PieceSplitter::Finish()
{
    if (m_taken > 0)
        Emit();
}

std::size_t PieceSplitter::PieceCost(std::size_t capacity)
{
    // The allocator's blocks: the request plus its 8-byte head, in steps of 16.
    const auto block = [](std::size_t bytes) { return (bytes + 8 + 15) / 16 * 16; };
    // A list node holds two links and the string object.
    const std::size_t node = block(2 * sizeof(void*) + sizeof(std::string));
    const bool onHeap = capacity > std::string().capacity();
    return node + (onHeap ? block(capacity + 1) : 0);
}

void PieceSplitter::Emit()
{
    if (m_pieces) {
        if (!m_exact)
            m_current.shrink_to_fit(); // a piece that came in several runs
        m_cost += PieceCost(m_current.capacity());
        if (const auto nul = m_current.find('\0'); nul != std::string::npos)
            m_current.erase(nul);
        try {
            m_pieces->push_back(std::move(m_current));
        } catch (const std::bad_alloc&) {
            // Out of memory: this piece is dropped and reading goes on.
        }
        m_current = std::string();
        m_exact = false;
    } else {
        m_cost += PieceCost(ReservedCapacity(m_stored));
    }
    m_stored = 0;
    m_taken = 0;
}
