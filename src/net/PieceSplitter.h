#pragma once

#include <cstddef>
#include <list>
#include <string>

// Cuts a page body into the fetcher's text pieces. A piece takes body bytes
// until it has stored an LF or taken 1,022 bytes (CR bytes count but are
// dropped); its text ends at its first NUL. Fed in any number of runs.
//
// Without a list it only counts: what the pieces would cost in memory, so
// that a transfer can stop at the cap before the caller makes them.
class PieceSplitter
{
public:
    static constexpr std::size_t kPieceLimit = 1022;

    // `spare` holds pieces of an earlier page whose list nodes and string
    // blocks are used again for the new pieces, instead of freeing them all
    // and allocating as many anew (a check pass fetches page after page of
    // much the same shape). What is left of it is freed at the end.
    explicit PieceSplitter(std::list<std::string>& pieces, std::list<std::string> spare = {})
        : m_pieces(&pieces), m_spare(std::move(spare))
    {
    }
    PieceSplitter() = default; // counting only

    void Feed(const char* bytes, std::size_t size);
    // The end of the body: a piece that took at least one byte is kept,
    // even if every byte was a CR.
    void Finish();

    // What the pieces made so far take in memory: each costs a list node
    // and, past the string's inner buffer, a heap block of its capacity.
    std::size_t Cost() const { return m_cost; }
    static std::size_t PieceCost(std::size_t capacity);

private:
    std::string& StartPiece(std::size_t expected);
    void Emit();

    std::list<std::string>* m_pieces = nullptr;
    std::list<std::string> m_spare;
    std::string* m_current = nullptr; // the piece being filled, the list's last
    std::size_t m_stored = 0;         // bytes of the current piece, also when only counting
    std::size_t m_taken = 0;
    std::size_t m_cost = 0;
    bool m_dropped = false; // the current piece found no memory
};
