#pragma once

#include "monitor/HistoryStore.h"

#include <QWidget>

#include <ctime>
#include <vector>

// The response time of one site over a span, one point per bucket of
// checks (the average of its OK checks), with the times the site was down
// shaded red behind the line. Drawn with QPainter from figures read
// elsewhere: it never reads the history itself.
class CResponseChart : public QWidget
{
    Q_OBJECT

public:
    static inline const QColor kLineColor{0x1f, 0x6f, 0xc5};
    static inline const QColor kDownColor{0xe0, 0x3c, 0x3c};

    explicit CResponseChart(QWidget* parent = nullptr);

    // Shows [from, to) in buckets of `bucketSeconds`; `now` ends an outage
    // that has no end yet.
    void SetData(std::time_t from, std::time_t to, int bucketSeconds, std::time_t now,
                 std::vector<HistoryStore::Bucket> buckets,
                 std::vector<HistoryStore::Outage> outages);

    QSize sizeHint() const override { return {640, 260}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::time_t m_from = 0;
    std::time_t m_to = 0;
    std::time_t m_now = 0;
    int m_bucketSeconds = 1;
    std::vector<HistoryStore::Bucket> m_buckets;
    std::vector<HistoryStore::Outage> m_outages;
};
