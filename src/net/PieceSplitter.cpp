#include "net/PieceSplitter.h"

#include <cstring>
#include <new>

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    // Whole runs at a time rather than byte by byte: this is on the path of
    // every page of every check.
    while (size > 0) {
        const std::size_t room = kPieceLimit - m_taken;
        const std::size_t span = size < room ? size : room;
        const auto* lf = static_cast<const char*>(std::memchr(bytes, '\n', span));
        const std::size_t take = lf ? static_cast<std::size_t>(lf - bytes) + 1 : span;
        for (std::size_t at = 0; at < take;) {
            const auto* cr = static_cast<const char*>(std::memchr(bytes + at, '\r', take - at));
            const std::size_t end = cr ? static_cast<std::size_t>(cr - bytes) : take;
            m_current.append(bytes + at, end - at);
            at = end + (cr ? 1 : 0);
        }
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

std::size_t PieceSplitter::PieceCost(const std::string& piece)
{
    // The allocator's blocks: the request plus its 8-byte head, in steps of 16.
    const auto block = [](std::size_t bytes) { return (bytes + 8 + 15) / 16 * 16; };
    // A list node holds two links and the string object.
    const std::size_t node = block(2 * sizeof(void*) + sizeof(std::string));
    const bool onHeap = piece.capacity() > std::string().capacity();
    return node + (onHeap ? block(piece.capacity() + 1) : 0);
}

void PieceSplitter::Emit()
{
    if (const auto nul = m_current.find('\0'); nul != std::string::npos)
        m_current.erase(nul);
    try {
        m_cost += PieceCost(m_current);
        m_pieces.push_back(std::move(m_current));
    } catch (const std::bad_alloc&) {
        // Out of memory: this piece is dropped and reading goes on.
    }
    m_current.clear();
    m_taken = 0;
}
