#pragma once

#include "monitor/HistoryStore.h"

#include <QDialog>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class CHistoryDlg;
}

// The details of one site from the history: uptime over the last 24 hours,
// 7 days and 30 days, a chart of the response time over a chosen span with
// the down times marked, and the outages of that span. The figures are read
// on a worker thread, so a large or locked history never stalls the window.
class CHistoryDlg : public QDialog
{
    Q_OBJECT

public:
    enum Span
    {
        Day = 0,
        Week = 1,
        Month = 2
    };

    // Everything the window shows, read in one go.
    struct Figures
    {
        std::string error;    // empty when read
        bool missing = false; // no history file yet
        std::time_t now = 0, from = 0, to = 0;
        int bucketSeconds = 1;
        HistoryStore::Uptime day, week, month;
        std::vector<HistoryStore::Bucket> buckets;
        std::vector<HistoryStore::Outage> outages; // those of the span
    };

    // Aggregated in SQL: at most kMaxBuckets points, whatever the span.
    static constexpr int kMaxBuckets = 720;
    static Figures Read(const std::string& storePath, const std::string& siteKey, Span span,
                        std::time_t now);

    CHistoryDlg(std::string storePath, const std::string& url, QWidget* parent = nullptr);
    ~CHistoryDlg() override;

    // Says that the history cannot be written at the moment (`problem`
    // empty: it can).
    void SetRecordingProblem(const std::string& problem);

Q_SIGNALS:
    // The figures of the chosen span are shown.
    void Loaded();

private:
    void Load();
    void Show(const Figures& figures);
    void ShowState();

    std::unique_ptr<Ui::CHistoryDlg> m_ui;
    std::string m_storePath;
    std::string m_siteKey;
    std::string m_readProblem;
    std::string m_recordingProblem;
    unsigned m_generation = 0; // answers to earlier requests are dropped
};
