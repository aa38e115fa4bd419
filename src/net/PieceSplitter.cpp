#include "net/PieceSplitter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The first LF, CR or NUL in [from, end), or end. One pass finds all three
// kinds: a page of short CR LF lines would spend more on a library search
// per kind and per line than on making its pieces.
const char* NextMark(const char* from, const char* end)
{
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i nul = _mm_setzero_si128();
    const auto marks = [&](const char* at) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)),
                         _mm_cmpeq_epi8(block, nul))));
    };
    // Two blocks a turn: most lines end within the first few.
    for (; end - from >= 32; from += 32) {
        if (const unsigned mask = marks(from) | marks(from + 16) << 16)
            return from + std::countr_zero(mask);
    }
    if (end - from >= 16) {
        if (const unsigned mask = marks(from))
            return from + std::countr_zero(mask);
        from += 16;
    }
#endif
    while (from < end && *from != '\n' && *from != '\r' && *from != '\0')
        ++from;
    return from;
}

// The capacity a string gets when it reserves `size` bytes from empty (the
// library rounds small requests up): what a piece made in one run holds.
// Probed once at start-up rather than assumed of the library.
const auto kReservedCapacities = [] {
    std::array<std::size_t, 128> capacities{};
    for (std::size_t n = 0; n < capacities.size(); ++n) {
        std::string probe;
        probe.reserve(n);
        capacities[n] = probe.capacity();
    }
    return capacities;
}();

std::size_t ReservedCapacity(std::size_t size)
{
    return size < kReservedCapacities.size() ? kReservedCapacities[size] : size;
}

// Whether a spare piece's block may hold a new piece of `size` bytes. A
// block far larger than needed is not kept: the cap counts what pieces
// hold, and that must stay close to what they need.
bool Fits(std::size_t capacity, std::size_t size)
{
    return capacity >= size && capacity <= 2 * ReservedCapacity(size) + 32;
}

} // namespace

PieceSplitter::PieceSplitter(std::list<std::string>& pieces, std::list<std::string> spare)
    : m_pieces(&pieces), m_spare(pieces.end())
{
    if (!spare.empty()) {
        m_spare = spare.begin(); // stays valid across the splice
        pieces.splice(pieces.end(), spare);
    }
}

PieceSplitter::~PieceSplitter()
{
    DropSpare();
}

void PieceSplitter::DropSpare()
{
    if (m_pieces)
        m_spare = m_pieces->erase(m_spare, m_pieces->end());
}

void PieceSplitter::StartPiece(std::size_t expected)
{
    if (m_spare != m_pieces->end()) {
        m_currentAt = m_spare++;
        m_current = &*m_currentAt;
        m_current->clear();
        if (!Fits(m_current->capacity(), expected))
            std::string().swap(*m_current);
    } else {
        m_currentAt = m_pieces->emplace(m_pieces->end());
        m_current = &*m_currentAt;
    }
    if (m_current->capacity() < expected)
        m_current->reserve(expected);
}

const char* PieceSplitter::CutWholeLines(const char* bytes, const char* end)
{
    try {
        while (bytes < end) {
            const char* const limit =
                bytes + std::min(static_cast<std::size_t>(end - bytes), kPieceLimit);
            const char* const mark = NextMark(bytes, limit);
            const char* stop;
            if (mark == limit)
                return bytes;
            if (*mark == '\n')
                stop = mark + 1;
            else if (*mark == '\r' && mark + 1 < limit && mark[1] == '\n')
                stop = mark + 2;
            else
                return bytes;
            // The text and its LF in one copy; a CR before it becomes the LF.
            const auto size = static_cast<std::size_t>(mark - bytes) + 1;
            if (m_spare != m_pieces->end() && Fits(m_spare->capacity(), size)) {
                m_currentAt = m_spare++;
                m_current = &*m_currentAt;
            } else {
                StartPiece(size);
            }
            m_current->assign(bytes, size);
            m_current->back() = '\n';
            m_cost += PieceCost(m_current->capacity());
            m_current = nullptr;
            bytes = stop;
        }
    } catch (const std::bad_alloc&) {
        // The piece is tried again the long way, which drops it if it
        // still finds no memory.
        if (m_current)
            m_pieces->erase(m_currentAt);
        m_current = nullptr;
    }
    return bytes;
}

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    const char* const end = bytes + size;
    while (bytes < end) {
        if (m_taken == 0 && m_pieces && !m_dropped) {
            bytes = CutWholeLines(bytes, end);
            if (bytes == end)
                break;
        }
        const char* const limit =
            bytes + std::min(static_cast<std::size_t>(end - bytes), kPieceLimit - m_taken);
        // To the piece's end (its LF, or as far as it may take), noting its
        // CRs; past the first few they are searched for again when copying.
        std::array<const char*, 8> crs; // the first crCount are set
        std::size_t crCount = 0;
        bool lf = false;
        const char* stop = bytes;
        while ((stop = NextMark(stop, limit)) != limit) {
            const char mark = *stop++;
            if (mark == '\n') {
                lf = true;
                break;
            }
            if (mark == '\r') {
                if (crCount < crs.size())
                    crs[crCount] = stop - 1;
                ++crCount;
            } else {
                m_holdsNul = true;
            }
        }
        const auto take = static_cast<std::size_t>(stop - bytes);
        const std::size_t stored = take - crCount;
        if (m_pieces && !m_dropped) {
            try {
                // A piece that lies in one run (always, when the whole body
                // is fed at once) is made at its exact size.
                if (!m_current)
                    StartPiece(stored);
                const char* from = bytes;
                for (std::size_t i = 0; i < crCount; ++i) {
                    const char* cr = i < crs.size()
                                         ? crs[i]
                                         : static_cast<const char*>(std::memchr(
                                               from, '\r', static_cast<std::size_t>(stop - from)));
                    m_current->append(from, static_cast<std::size_t>(cr - from));
                    from = cr + 1;
                }
                if (from != stop)
                    m_current->append(from, static_cast<std::size_t>(stop - from));
            } catch (const std::bad_alloc&) {
                // Out of memory: this piece is dropped and reading goes on.
                if (m_current)
                    m_pieces->erase(m_currentAt);
                m_current = nullptr;
                m_dropped = true;
            }
        }
        m_stored += stored;
        m_taken += take;
        bytes = stop;
        if (lf || m_taken == kPieceLimit)
            Emit();
    }
}

void PieceSplitter::Finish()
{
    if (m_taken > 0)
        Emit();
    DropSpare();
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
            if (m_holdsNul)
                m_current->erase(m_current->find('\0'));
        }
        m_current = nullptr;
        m_dropped = false;
    } else {
        m_cost += PieceCost(ReservedCapacity(m_stored));
    }
    m_stored = 0;
    m_taken = 0;
    m_holdsNul = false;
}
