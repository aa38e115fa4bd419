#include "monitor/DataFile.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/FolderLock.h"
#include "platform/InputFile.h"
#include "platform/Utf8Text.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <string_view>

namespace {

constexpr std::string_view kBeginResponse = "BEGIN RESPONSE";
constexpr std::string_view kEndResponse = "END RESPONSE";
constexpr std::size_t kIoBufferSize = 256 * 1024;

// The URL and e-mail length rules count characters as the user sees them,
// the same way as every other length rule of the program.
std::size_t CharacterCount(std::string_view text)
{
    return Utf8Text::CharacterCount(text);
}

void Report(const char* what, const std::string& path, const std::string& why)
{
    // One line, whatever the reason says.
    std::string line = std::string("Kestrelle: ") + what + " " + path + ": " + why;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::cerr << line << std::endl;
}

// Reads the file the way the Windows program's text-mode line reader does:
// a line ends at a line feed, a carriage return just before it is dropped,
// and a line longer than the 24,999 characters of its buffer arrives as
// several pieces. Nothing is copied twice: each piece is appended straight
// into the caller's string.
class LineReader
{
public:
    enum class Piece
    {
        Line,  // the rest of a line, ended by a line feed or by the file's end
        Part,  // a full buffer; the same line goes on in the next piece
        End,   // nothing was left to read
        Error, // the file could not be read
    };

    explicit LineReader(InputFile& file)
        : m_file(file), m_buffer(std::make_unique_for_overwrite<char[]>(kIoBufferSize))
    {
    }

    bool Failed() const { return m_failed; }

    // True at the end of the file, and after a read error (see Failed()).
    bool AtEnd() { return m_pos == m_len && !More(); }

    Piece ReadPiece(std::string& out)
    {
        std::size_t room = DataFile::kPieceLength;
        bool any = false;
        for (;;) {
            if (m_pos == m_len && !More())
                return m_failed ? Piece::Error : any ? Piece::Line : Piece::End;
            const char* p = m_buffer.get() + m_pos;
            const std::size_t avail = m_len - m_pos;
            // One byte more than there is room for: a CR LF at the edge
            // still counts as the line's end, not as a character.
            const std::size_t window = std::min(avail, room + 1);
            if (const void* lf = std::memchr(p, '\n', window)) {
                // Found within room + 1 bytes, so what it ends always fits.
                const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
                out.append(p, (n > 0 && p[n - 1] == '\r') ? n - 1 : n);
                m_pos += n + 1;
                return Piece::Line;
            }
            if (avail > room) {
                out.append(p, room);
                m_pos += room;
                return Piece::Part;
            }
            // The rest of the buffer fits and holds no line feed. A CR at
            // its very end waits for the next read to see what follows it.
            std::size_t take = avail;
            if (p[avail - 1] == '\r')
                --take;
            out.append(p, take);
            m_pos += take;
            room -= take;
            any = any || take > 0;
            if (m_pos < m_len && !More()) {
                if (m_failed)
                    return Piece::Error;
                out.push_back('\r'); // the file ends with a lone CR
                ++m_pos;
                return Piece::Line;
            }
        }
    }

    // How many bytes are buffered before the next line that starts with
    // the end marker, 0 when none is buffered. A hint for reserving room
    // for a response: growing a 100 KB string step by step would touch its
    // memory several times over.
    std::size_t BufferedBytesBeforeEndMarker() const
    {
        const std::string_view buffered(m_buffer.get() + m_pos, m_len - m_pos);
        const std::size_t at = buffered.find("\nEND RESPONSE");
        return at == std::string_view::npos ? 0 : at;
    }

    // A whole line, however long: the pieces of one line are one field.
    Piece ReadLine(std::string& out)
    {
        out.clear();
        Piece piece;
        while ((piece = ReadPiece(out)) == Piece::Part) {
        }
        return piece;
    }

private:
    // Makes more bytes available and keeps those not consumed yet. False at
    // the end of the file or on a read error.
    bool More()
    {
        if (m_eof || m_failed)
            return false;
        if (m_pos > 0) {
            std::memmove(m_buffer.get(), m_buffer.get() + m_pos, m_len - m_pos);
            m_len -= m_pos;
            m_pos = 0;
        }
        const long n = m_file.Read(m_buffer.get() + m_len, kIoBufferSize - m_len);
        if (n < 0) {
            m_failed = true;
            return false;
        }
        if (n == 0) {
            m_eof = true;
            return false;
        }
        m_len += static_cast<std::size_t>(n);
        return true;
    }

    InputFile& m_file;
    // Not cleared first: only the bytes a read fills are ever touched.
    std::unique_ptr<char[]> m_buffer;
    std::size_t m_pos = 0;
    std::size_t m_len = 0;
    bool m_eof = false;
    bool m_failed = false;
};

// The lines of a response block up to "END RESPONSE" or the end of the
// file. The page's lines are joined with the line feeds that separated them
// and the pieces of one long line with nothing, so the text comes back as it
// was saved. As in the Windows program, a piece that is exactly the marker
// ends the block; the writer makes sure no page text produces one.
void ReadResponse(LineReader& in, std::string& out)
{
    bool lineEnded = false;
    out.reserve(in.BufferedBytesBeforeEndMarker());
    while (!in.AtEnd()) {
        const std::size_t before = out.size();
        if (lineEnded)
            out.push_back('\n');
        const std::size_t start = out.size();
        const LineReader::Piece piece = in.ReadPiece(out);
        if (piece == LineReader::Piece::Error || piece == LineReader::Piece::End ||
            std::string_view(out).substr(start) == kEndResponse) {
            out.resize(before);
            return;
        }
        lineEnded = piece == LineReader::Piece::Line;
    }
}

// Collects the file's bytes and hands them to the file in large writes.
class Writer
{
public:
    explicit Writer(AtomicFile& file) : m_file(file) { m_buffer.reserve(kIoBufferSize); }

    bool Ok() const { return m_ok; }

    void Put(std::string_view bytes)
    {
        if (m_buffer.size() + bytes.size() > kIoBufferSize)
            Flush();
        if (bytes.size() >= kIoBufferSize) {
            if (m_ok)
                m_ok = m_file.Write(bytes.data(), bytes.size());
            return;
        }
        m_buffer.append(bytes);
    }

    void Flush()
    {
        if (m_ok && !m_buffer.empty())
            m_ok = m_file.Write(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }

    // A field that must stay on its one line. The user's fields come from
    // one-line edits, but a line feed that got in anyway would shift every
    // line after it into the wrong field: it is written as a blank.
    void FieldLine(std::string_view text)
    {
        std::size_t lf;
        while ((lf = text.find('\n')) != std::string_view::npos) {
            Put(text.substr(0, lf));
            Put(" ");
            text.remove_prefix(lf + 1);
        }
        Put(text);
        Put("\r\n");
    }

    // The page text: every line feed becomes CR LF. A page line that a
    // reader would take for the block's end, "END RESPONSE" alone or as the
    // last piece of a long line, gets one trailing blank: a stranger's page
    // must not end its block early and turn its remaining lines into entries
    // of the user's list.
    void ResponseLines(std::string_view text)
    {
        for (;;) {
            const std::size_t lf = text.find('\n');
            const std::string_view line = text.substr(0, lf);
            Put(line);
            if (line.size() % DataFile::kPieceLength == kEndResponse.size() &&
                line.ends_with(kEndResponse))
                Put(" ");
            Put("\r\n");
            if (lf == std::string_view::npos)
                return;
            text.remove_prefix(lf + 1);
        }
    }

private:
    AtomicFile& m_file;
    std::string m_buffer;
    bool m_ok = true;
};

// Threads of this process queue here, so that only one of them at a time
// waits for the folder's lock. std::mutex has no destructor to run at exit,
// so a save still under way on a writer thread while the process ends never
// meets a destroyed lock.
std::mutex g_saveMutex;

} // namespace

bool DataFile::LoadSites(SiteList& list, const std::string& path)
{
    std::vector<SiteEntry> entries;
    const bool ok = ReadEntries(path, entries);
    try {
        for (SiteEntry& entry : entries)
            list.Append(std::move(entry));
    } catch (const std::exception& e) {
        Report("cannot read the site list", path, e.what());
        return false;
    }
    return ok;
}

bool DataFile::ReadEntries(const std::string& path, std::vector<SiteEntry>& out,
                           InputFile::Stamp* stamp, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        Report("cannot read the site list", path, why);
        if (error)
            *error = why;
        return false;
    };
    if (stamp)
        *stamp = {};
    try {
        InputFile file;
        switch (file.Open(path)) {
        case InputFile::OpenResult::Absent:
            return true;
        case InputFile::OpenResult::Failed:
            return fail(file.Error());
        case InputFile::OpenResult::Opened:
            break;
        }
        if (stamp)
            *stamp = file.FileStamp();

        LineReader in(file);
        while (!in.AtEnd()) {
            SiteEntry entry;
            in.ReadLine(entry.field(SiteEntry::Url));
            if (entry.field(SiteEntry::Url).empty())
                continue; // empty lines between records
            in.ReadLine(entry.field(SiteEntry::Status));
            in.ReadLine(entry.field(SiteEntry::LastCheck));
            in.ReadLine(entry.field(SiteEntry::SearchText));
            std::string begin; // its content is not tested
            in.ReadLine(begin);
            if (begin != kEndResponse)
                ReadResponse(in, entry.field(SiteEntry::LastResponse));
            if (!in.AtEnd()) {
                std::string& email = entry.field(SiteEntry::EmailAddress);
                in.ReadLine(email);
                if (CharacterCount(email) <= 3)
                    email.clear();
            }
            // A half-read entry is dropped on a read error; one cut short by
            // the file's end keeps what it has, with empty fields after.
            if (in.Failed())
                break;
            entry.mark = 0;
            out.push_back(std::move(entry));
        }
        if (in.Failed()) {
            return fail(file.Error());
        }
        return true;
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}

bool DataFile::SaveSites(const SiteList& list, const std::string& path)
{
    std::vector<SiteEntry> entries;
    try {
        // The copy takes the list's lock a row at a time, and the disk is
        // written with the lock free: a pass or the user must not wait.
        entries = list.Snapshot();
    } catch (const std::exception& e) {
        Report("cannot save the site list to", path, e.what());
        return false;
    }
    return SaveEntries(entries, path);
}

bool DataFile::SaveEntries(const std::vector<SiteEntry>& entries, const std::string& path)
{
    return WithTurn(path, [&] { return WriteEntries(entries, path); });
}

bool DataFile::WithTurn(const std::string& path, const std::function<bool()>& save)
{
    std::lock_guard saveLock(g_saveMutex);
    try {
        const FolderLock turn(AppPaths::FolderOf(path), kTurnBound);
        if (turn.TimedOut()) {
            Report("cannot save the site list to", path,
                   "another program kept its folder locked for " +
                       std::to_string(kTurnBound.count()) + " seconds");
            return false;
        }
        return save();
    } catch (const std::exception& e) {
        Report("cannot save the site list to", path, e.what());
        return false;
    }
}

bool DataFile::WriteEntries(const std::vector<SiteEntry>& entries, const std::string& path,
                            InputFile::Stamp* written)
{
    try {
        AtomicFile file(path);
        if (!file.Open()) {
            Report("cannot save the site list to", path, file.Error());
            return false;
        }
        Writer out(file);
        for (const SiteEntry& entry : entries) {
            if (!out.Ok())
                break;
            if (CharacterCount(entry.field(SiteEntry::Url)) <= 1)
                continue;
            out.FieldLine(entry.field(SiteEntry::Url));
            out.FieldLine(entry.field(SiteEntry::Status));
            out.FieldLine(entry.field(SiteEntry::LastCheck));
            out.FieldLine(entry.field(SiteEntry::SearchText));
            out.FieldLine(kBeginResponse);
            out.ResponseLines(entry.field(SiteEntry::LastResponse));
            out.FieldLine(kEndResponse);
            out.FieldLine(entry.field(SiteEntry::EmailAddress));
        }
        out.Flush();
        if (!out.Ok() || !file.Commit()) {
            Report("cannot save the site list to", path, file.Error());
            return false;
        }
        if (written)
            *written = InputFile::StampOf(path);
        return true;
    } catch (const std::exception& e) {
        Report("cannot save the site list to", path, e.what());
        return false;
    }
}

std::string DataFile::DefaultPath()
{
    return AppPaths::DataFile();
}
