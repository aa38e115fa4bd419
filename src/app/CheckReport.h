#pragma once

#include "monitor/CheckPass.h"

#include <cstdio>
#include <string>

// What the checker prints on standard output: one line per site as soon as
// its check has ended, then one summary line. The lines are made to be read
// by a person and cut by a script alike: fields are separated by tabs, and
// control characters inside a field are shown as blanks so that a field can
// never break a line or a column.
//
//   OK<TAB>shop.test<TAB>http://www.shop.test/
//   ERROR<TAB>shop.test<TAB>http://www.shop.test/<TAB>Kestrelle was unable to find ...
//   Sites: 2, OK: 1, ERROR: 1
class CheckReport : public CheckPass::Observer
{
public:
    // Exit statuses, as monitoring plugins read them.
    static constexpr int kExitOk = 0;
    static constexpr int kExitError = 2;
    static constexpr int kExitUnknown = 3;

    explicit CheckReport(std::FILE* out) : m_out(out) {}

    void RowChecked(const CheckPass::RowResult& result) override;
    void PassEnded(bool saved) override;

    void PrintSummary();

    // A site found down outranks a failed save: both are failures, and the
    // down site is the news a monitoring system must not miss.
    int ExitStatus() const;

    bool PassCompleted() const { return m_passEnded; }
    bool Saved() const { return m_saved; }

    static std::string RowLine(const CheckPass::RowResult& result);
    static std::string SummaryLine(int sites, int ok, int error);

private:
    void Print(const std::string& line);

    std::FILE* m_out;
    int m_ok = 0;
    int m_error = 0;
    bool m_passEnded = false;
    bool m_saved = true;
    bool m_outClosed = false;
};
