#pragma once

#include <cstddef>
#include <list>
#include <string>

// Cuts a page body into the fetcher's text pieces while it streams in. A
// piece takes body bytes until it has stored an LF or taken 1,022 bytes
// (CR bytes count but are dropped); its text ends at its first NUL.
class PieceSplitter
{
public:
    static constexpr std::size_t kPieceLimit = 1022;

    explicit PieceSplitter(std::list<std::string>& pieces) : m_pieces(pieces) {}

    void Feed(const char* bytes, std::size_t size);
    // What the pieces made so far take in memory: each costs a list node and,
    // past the string's inner buffer, a heap block of its capacity.
    std::size_t Cost() const { return m_cost; }
    static std::size_t PieceCost(const std::string& piece);
    // The end of the body: a piece that took at least one byte is kept,
    // even if every byte was a CR.
    void Finish();

private:
    void Emit();

    std::list<std::string>& m_pieces;
    std::string m_current;
    std::size_t m_taken = 0;
    std::size_t m_cost = 0;
};
