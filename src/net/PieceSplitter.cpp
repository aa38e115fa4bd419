#include "net/PieceSplitter.h"

#include <new>

void PieceSplitter::Feed(const char* bytes, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        ++m_taken;
        if (c != '\r')
            m_current += c;
        if (c == '\n' || m_taken == kPieceLimit)
            Emit();
    }
}

void PieceSplitter::Finish()
{
    if (m_taken > 0)
        Emit();
}

void PieceSplitter::Emit()
{
    if (const auto nul = m_current.find('\0'); nul != std::string::npos)
        m_current.erase(nul);
    try {
        m_pieces.push_back(std::move(m_current));
    } catch (const std::bad_alloc&) {
        // Out of memory: this piece is dropped and reading goes on.
    }
    m_current.clear();
    m_taken = 0;
}
