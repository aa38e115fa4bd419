#include "ui/CResponseChart.h"

#include "platform/TimeText.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::time_t kHour = 60 * 60;
constexpr std::time_t kDay = 24 * kHour;

// The smallest of 1, 2 and 5 times a power of ten that splits `top` into at
// most five steps.
double NiceStep(double top)
{
    const double rough = top / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10.0 * power;
}

QString MsText(double ms)
{
    if (ms >= 1000.0)
        return QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'g', 3);
    return QStringLiteral("%1 ms").arg(static_cast<int>(ms));
}

struct Ticks
{
    std::vector<std::time_t> at;
    const char* format;
};

// Marks on local-time boundaries: every 3 hours over a day, every day over a
// week, every 5 days over a month. Stepping through the calendar keeps them
// on the hour when the clocks change.
Ticks TicksFor(std::time_t from, std::time_t to)
{
    const std::time_t span = to - from;
    const int hours = span <= 2 * kDay ? 3 : 0;
    const int days = span <= 2 * kDay ? 0 : span <= 10 * kDay ? 1 : 5;
    Ticks ticks{{}, hours ? "%H:%M" : days == 1 ? "%a %m/%d" : "%m/%d"};
    std::tm tm{};
    localtime_r(&from, &tm);
    tm.tm_min = 0;
    tm.tm_sec = 0;
    if (hours)
        tm.tm_hour -= tm.tm_hour % hours;
    else
        tm.tm_hour = 0;
    for (int guard = 0; guard < 64; ++guard) {
        tm.tm_isdst = -1;
        const std::time_t t = std::mktime(&tm);
        if (t >= to)
            break;
        if (t >= from)
            ticks.at.push_back(t);
        if (hours)
            tm.tm_hour += hours;
        else
            tm.tm_mday += days;
    }
    return ticks;
}

} // namespace

CResponseChart::CResponseChart(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CResponseChart::SetData(std::time_t from, std::time_t to, int bucketSeconds, std::time_t now,
                             std::vector<HistoryStore::Bucket> buckets,
                             std::vector<HistoryStore::Outage> outages)
{
    m_from = from;
    m_to = std::max(to, from + 1);
    m_bucketSeconds = std::max(bucketSeconds, 1);
    m_now = now;
    m_buckets = std::move(buckets);
    m_outages = std::move(outages);
    update();
}

void CResponseChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    p.fillRect(rect(), pal.color(QPalette::Base));

    const QFontMetrics fm = p.fontMetrics();
    const QRectF plot(fm.horizontalAdvance(QStringLiteral("0000 ms")) + 14, fm.height() + 14,
                      width() - fm.horizontalAdvance(QStringLiteral("0000 ms")) - 30,
                      height() - 2 * fm.height() - 28);
    if (plot.width() < 20 || plot.height() < 20)
        return;

    int maxMs = 0;
    for (const auto& b : m_buckets)
        maxMs = std::max(maxMs, b.averageMs);
    const double step = NiceStep(std::max(10.0, maxMs * 1.1));
    const double top = step * std::ceil(std::max(10.0, maxMs * 1.1) / step);
    const auto x = [&](std::time_t t) {
        return plot.left() + plot.width() * double(t - m_from) / double(m_to - m_from);
    };
    const auto y = [&](double ms) { return plot.bottom() - plot.height() * ms / top; };

    // Grid and value labels.
    const QColor text = pal.color(QPalette::Text);
    QColor grid = text;
    grid.setAlpha(40);
    for (double v = 0; v <= top + step / 2; v += step) {
        p.setPen(QPen(grid, 1));
        p.drawLine(QPointF(plot.left(), y(v)), QPointF(plot.right(), y(v)));
        p.setPen(text);
        p.drawText(QRectF(0, y(v) - fm.height() / 2.0, plot.left() - 6, fm.height()),
                   Qt::AlignRight | Qt::AlignVCenter, MsText(v));
    }
    const Ticks ticks = TicksFor(m_from, m_to);
    for (const std::time_t t : ticks.at) {
        p.setPen(QPen(grid, 1));
        p.drawLine(QPointF(x(t), plot.top()), QPointF(x(t), plot.bottom()));
        p.setPen(text);
        const QString label = QString::fromStdString(TimeText::Local(t, ticks.format));
        const double w = fm.horizontalAdvance(label);
        p.drawText(
            QRectF(std::clamp(x(t) - w / 2, 0.0, width() - w), plot.bottom() + 4, w, fm.height()),
            Qt::AlignCenter, label);
    }

    // Down times behind the line, at least two pixels wide so that a single
    // failed check shows; a solid strip along the axis marks them too.
    QColor down = kDownColor;
    down.setAlpha(55);
    for (const auto& o : m_outages) {
        const double x1 = x(std::max(o.start, m_from));
        const double x2 = x(std::min(o.end ? o.end : m_now, m_to));
        if (x2 < plot.left() || x1 > plot.right())
            continue;
        const QRectF band(x1, plot.top(), std::max(2.0, x2 - x1), plot.height());
        p.fillRect(band, down);
        p.fillRect(QRectF(band.left(), plot.bottom() - 4, band.width(), 4), kDownColor);
    }

    // The line, broken where no OK check came for more than two buckets.
    QPainterPath line;
    QPainterPath area;
    std::time_t last = 0;
    double lastX = 0;
    bool open = false;
    const auto close = [&] {
        if (open) {
            area.lineTo(lastX, plot.bottom());
            area.closeSubpath();
        }
        open = false;
    };
    for (const auto& b : m_buckets) {
        if (b.averageMs < 0)
            continue;
        const std::time_t mid = b.start + m_bucketSeconds / 2;
        const QPointF pt(x(mid), y(b.averageMs));
        if (open && mid - last > 2 * m_bucketSeconds + m_bucketSeconds / 2)
            close();
        if (!open) {
            line.moveTo(pt);
            area.moveTo(pt.x(), plot.bottom());
            area.lineTo(pt);
            open = true;
        } else {
            line.lineTo(pt);
            area.lineTo(pt);
        }
        last = mid;
        lastX = pt.x();
    }
    close();
    QLinearGradient fill(0, plot.top(), 0, plot.bottom());
    QColor shade = kLineColor;
    shade.setAlpha(70);
    fill.setColorAt(0, shade);
    shade.setAlpha(8);
    fill.setColorAt(1, shade);
    p.fillPath(area, fill);
    p.setPen(QPen(kLineColor, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(line);

    p.setPen(QPen(grid, 1));
    p.drawRect(plot);

    // Legend, top right.
    p.setPen(text);
    const QString lineName = tr("Average response time");
    const QString downName = tr("Down");
    double lx = plot.right() - fm.horizontalAdvance(lineName) - fm.horizontalAdvance(downName) - 70;
    const double ly = 4 + fm.height() / 2.0;
    p.setPen(QPen(kLineColor, 2));
    p.drawLine(QPointF(lx, ly), QPointF(lx + 18, ly));
    p.setPen(text);
    p.drawText(QPointF(lx + 24, 4 + fm.ascent()), lineName);
    lx += 24 + fm.horizontalAdvance(lineName) + 16;
    p.fillRect(QRectF(lx, ly - 5, 12, 10), down);
    p.fillRect(QRectF(lx, ly + 3, 12, 2), kDownColor);
    p.drawText(QPointF(lx + 18, 4 + fm.ascent()), downName);

    if (m_buckets.empty()) {
        QColor muted = text;
        muted.setAlpha(150);
        p.setPen(muted);
        p.drawText(plot, Qt::AlignCenter, tr("No checks in this span"));
    }
}
