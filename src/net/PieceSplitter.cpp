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
    for (; end - from >= 16; from += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i marks =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, lf), _mm_cmpeq_epi8(block, cr)),
                         _mm_cmpeq_epi8(block, nul));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(marks)))
            return from + std::countr_zero(mask);
    }
#endif
    while (from < end && *from != '\n' && *from != '\r' && *from != '\0')
        ++from;
    return from;
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
        // A block far larger than needed is not kept: the cap counts what
        // pieces hold, and that must stay close to what they need.
        if (m_current->capacity() > 2 * ReservedCapacity(expected) + 32)
            std::string().swap(*m_current);
    } else {
        m_currentAt = m_pieces->emplace(m_pieces->end());
        m_current = &*m_currentAt;
    }
    m_current->reserve(expected);
}

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    const char* const end = bytes + size;
    while (bytes < end) {
        const char* const limit =
            bytes + std::min(static_cast<std::size_t>(end - bytes), kPieceLimit - m_taken);
        // To the piece's end (its LF, or as far as it may take), noting its
        // CRs; past the first few they are searched for again when copying.
        std::array<const char*, 8> crs{};
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
                // CR LF, the usual line end, without a second search.
                if (stop < limit && *stop == '\n') {
                    ++stop;
                    lf = true;
                    break;
                }
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
