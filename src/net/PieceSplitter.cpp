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

std::string& PieceSplitter::StartPiece(std::size_t expected)
{
    if (!m_spare.empty()) {
        m_pieces->splice(m_pieces->end(), m_spare, m_spare.begin());
        std::string& piece = m_pieces->back();
        piece.clear();
        // A block far larger than needed is not kept: the cap counts what
        // pieces hold, and that must stay close to what they need.
        if (piece.capacity() > 2 * ReservedCapacity(expected) + 32)
            std::string().swap(piece);
    } else {
        m_pieces->emplace_back();
    }
    std::string& piece = m_pieces->back();
    piece.reserve(expected);
    return piece;
}

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    // Whole runs at a time rather than byte by byte: this is on the path of
    // every page of every check.
    while (size > 0) {
        const std::size_t room = kPieceLimit - m_taken;
        const std::size_t span = size < room ? size : room;
        const auto* lf = static_cast<const char*>(std::memchr(bytes, '\n', span));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes) + 1 : span;
        const std::size_t crs = CrCount(bytes, take);
        const std::size_t stored = take - crs;
        if (m_pieces && !m_dropped) {
            try {
                // A piece that lies in one run (always, when the whole body
                // is fed at once) is made at its exact size.
                if (!m_current)
                    m_current = &StartPiece(stored);
                if (crs == 0) {
                    m_current->append(bytes, take);
                } else {
                    for (std::size_t at = 0; at < take;) {
                        const auto* cr =
                            static_cast<const char*>(std::memchr(bytes + at, '\r', take - at));
                        const std::size_t end = cr ? static_cast<std::size_t>(cr - bytes) : take;
                        m_current->append(bytes + at, end - at);
                        at = end + (cr ? 1 : 0);
                    }
                }
            } catch (const std::bad_alloc&) {
                // Out of memory: this piece is dropped and reading goes on.
                if (m_current)
                    m_pieces->pop_back();
                m_current = nullptr;
                m_dropped = true;
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
    m_spare.clear();
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
        if (m_current) {
            m_cost += PieceCost(m_current->capacity());
            if (const auto nul = m_current->find('\0'); nul != std::string::npos)
                m_current->erase(nul);
        }
        m_current = nullptr;
        m_dropped = false;
    } else {
        m_cost += PieceCost(ReservedCapacity(m_stored));
    }
    m_stored = 0;
    m_taken = 0;
}
