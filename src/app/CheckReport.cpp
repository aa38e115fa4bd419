#include "app/CheckReport.h"

namespace {

std::string Field(const std::string& text)
{
    std::string out = text;
    for (char& c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            c = ' ';
    }
    return out;
}

} // namespace

void CheckReport::RowChecked(const CheckPass::RowResult& result)
{
    if (result.status == CheckPass::kOk)
        ++m_ok;
    else
        ++m_error;
    Print(RowLine(result));
}

void CheckReport::PassEnded(bool saved)
{
    m_passEnded = true;
    m_saved = saved;
}

void CheckReport::PrintSummary()
{
    Print(SummaryLine(m_ok + m_error, m_ok, m_error));
}

int CheckReport::ExitStatus() const
{
    if (m_error > 0)
        return kExitError;
    if (!m_passEnded || !m_saved)
        return kExitUnknown;
    return kExitOk;
}

std::string CheckReport::RowLine(const CheckPass::RowResult& result)
{
    std::string line =
        Field(result.status) + '\t' + Field(result.siteName) + '\t' + Field(result.url);
    if (!result.balloonText.empty())
        line += '\t' + Field(result.balloonText);
    // Added after the fields scripts already read: why, and the fetch's time.
    // An OK line leaves the alert field empty so that both stay in place.
    if (result.balloonText.empty())
        line += '\t';
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", result.seconds);
    line += '\t' + Field(result.reason) + '\t' + seconds;
    return line;
}

std::string CheckReport::SummaryLine(int sites, int ok, int error)
{
    return "Sites: " + std::to_string(sites) + ", OK: " + std::to_string(ok) +
           ", ERROR: " + std::to_string(error);
}

void CheckReport::Print(const std::string& line)
{
    // Once the reader is gone (`| head -1`) there is nobody to print for;
    // the pass, its save and its e-mails go on, and the exit status stays
    // what the sites decide.
    if (m_outClosed)
        return;
    // A pipe is fully buffered: without the flush a monitoring system or a
    // `tee` would see nothing until the pass ends.
    if (std::fputs(line.c_str(), m_out) == EOF || std::fputc('\n', m_out) == EOF ||
        std::fflush(m_out) == EOF) {
        m_outClosed = true;
        std::clearerr(m_out);
    }
}
