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
    // blocks are used again for the new pieces, in place, instead of freeing
    // them all and allocating as many anew (a check pass fetches page after
    // page of much the same shape). What is left of it goes at the end.
    explicit PieceSplitter(std::list<std::string>& pieces, std::list<std::string> spare = {});
    PieceSplitter() = default; // counting only
    ~PieceSplitter();
    PieceSplitter(const PieceSplitter&) = delete;
    PieceSplitter& operator=(const PieceSplitter&) = delete;

    void Feed(const char* bytes, std::size_t size);
    // The end of the body: a piece that took at least one byte is kept,
    // even if every byte was a CR.
    void Finish();

    // What the pieces made so far take in memory: each costs a list node
    // and, past the string's inner buffer, a heap block of its capacity.
    std::size_t Cost() const { return m_cost; }
    static std::size_t PieceCost(std::size_t capacity);

private:
    using Iterator = std::list<std::string>::iterator;

    void StartPiece(std::size_t expected);
    // Whole pieces that end in LF or CR LF with no other CR or NUL, the
    // usual shape, made the short way; returns where it stopped.
    const char* CutWholeLines(const char* bytes, const char* end);
    void Emit();
    void DropSpare();

    std::list<std::string>* m_pieces = nullptr;
    Iterator m_spare;                 // the first spare piece not used again yet
    std::string* m_current = nullptr; // the piece being filled
    Iterator m_currentAt;
    std::size_t m_stored = 0; // bytes of the current piece, also when only counting
    std::size_t m_taken = 0;
    std::size_t m_cost = 0;
    bool m_dropped = false;  // the current piece found no memory
    bool m_holdsNul = false; // the current piece took a NUL
};
