#include "ui/CHistoryDlg.h"

#include "ui/UiThread.h"

#include "platform/Clock.h"
#include "platform/TimeText.h"
#include "ui_HistoryDlg.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QPointer>

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <thread>

namespace {

constexpr std::time_t kDay = 24 * 60 * 60;

QString Percent(const HistoryStore::Uptime& uptime)
{
    return uptime.checks ? QStringLiteral("%1%").arg(uptime.Percent(), 0, 'f', 2)
                         : QStringLiteral("-");
}

QString Checks(const HistoryStore::Uptime& uptime)
{
    if (uptime.checks == 0)
        return CHistoryDlg::tr("no checks");
    const long long failed = uptime.checks - uptime.ok;
    QString text = uptime.checks == 1 ? CHistoryDlg::tr("1 check")
                                      : CHistoryDlg::tr("%1 checks").arg(uptime.checks);
    if (failed)
        text += CHistoryDlg::tr(", %1 failed").arg(failed);
    return text;
}

QString Stamp(std::time_t t)
{
    return QString::fromStdString(TimeText::Local(t));
}

} // namespace

CHistoryDlg::Figures CHistoryDlg::Read(const std::string& storePath, const std::string& siteKey,
                                       Span span, std::time_t now)
{
    Figures f;
    f.now = now;
    f.to = now + HistoryStore::kAheadSeconds;
    f.from = now - (span == Day ? 1 : span == Week ? 7 : 30) * kDay;
    f.bucketSeconds = static_cast<int>(std::max<std::time_t>(60, (f.to - f.from) / kMaxBuckets));
    HistoryStore store(storePath);
    if (!store.OpenForReading()) {
        f.missing = store.Missing();
        f.error = store.Error();
        return f;
    }
    if (!store.ReadUptime(siteKey, now - kDay, f.to, f.day) ||
        !store.ReadUptime(siteKey, now - 7 * kDay, f.to, f.week) ||
        !store.ReadUptime(siteKey, now - 30 * kDay, f.to, f.month) ||
        !store.ReadBuckets(siteKey, f.from, f.to, f.bucketSeconds, f.buckets) ||
        !store.ReadOutages(siteKey, f.from, f.to, f.outages))
        f.error = store.Error();
    return f;
}

CHistoryDlg::CHistoryDlg(std::string storePath, const std::string& url, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CHistoryDlg>()), m_storePath(std::move(storePath)),
      m_siteKey(HistoryStore::SiteKey(url))
{
    m_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    m_ui->labelSite->setText(QString::fromStdString(url));
    QFont title = m_ui->labelSite->font();
    title.setBold(true);
    title.setPointSizeF(title.pointSizeF() * 1.25);
    m_ui->labelSite->setFont(title);
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    for (QLabel* value : {m_ui->labelUptimeDay, m_ui->labelUptimeWeek, m_ui->labelUptimeMonth})
        value->setFont(big);
    m_ui->labelState->setStyleSheet(QStringLiteral("color: #b00020;"));
    QHeaderView* header = m_ui->tableOutages->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setStretchLastSection(true);
    m_ui->comboSpan->setCurrentIndex(Week);
    connect(m_ui->comboSpan, &QComboBox::currentIndexChanged, this, [this] { Load(); });
    Load();
}

CHistoryDlg::~CHistoryDlg() = default;

void CHistoryDlg::SetRecordingProblem(const std::string& problem)
{
    m_recordingProblem = problem;
    ShowState();
}

void CHistoryDlg::Load()
{
    const unsigned generation = ++m_generation;
    const Span span = static_cast<Span>(std::clamp(m_ui->comboSpan->currentIndex(), 0, 2));
    QPointer<CHistoryDlg> self(this);
    // The answer goes through the application object: the window may be
    // closed before it comes, and the pointer is only looked at there.
    try {
        std::thread([self, generation, span, path = m_storePath, key = m_siteKey,
                     now = Clock::Now()] {
            auto figures = std::make_shared<Figures>(Read(path, key, span, now));
            RunOnUi([self, generation, figures] {
                if (self && self->m_generation == generation)
                    self->Show(*figures);
            });
        }).detach();
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "Kestrelle: cannot read the history: %s\n", e.what());
    }
}

void CHistoryDlg::Show(const Figures& f)
{
    m_readProblem = f.missing ? std::string() : f.error;
    ShowState();
    const std::pair<QLabel*, QLabel*> labels[] = {
        {m_ui->labelUptimeDay, m_ui->labelChecksDay},
        {m_ui->labelUptimeWeek, m_ui->labelChecksWeek},
        {m_ui->labelUptimeMonth, m_ui->labelChecksMonth},
    };
    const HistoryStore::Uptime* uptimes[] = {&f.day, &f.week, &f.month};
    for (int i = 0; i < 3; ++i) {
        labels[i].first->setText(Percent(*uptimes[i]));
        labels[i].second->setText(Checks(*uptimes[i]));
    }
    m_ui->chartResponse->SetData(f.from, f.to, f.bucketSeconds, f.now, f.buckets, f.outages);

    QTableWidget* table = m_ui->tableOutages;
    table->setRowCount(static_cast<int>(f.outages.size()));
    int row = 0;
    for (auto o = f.outages.rbegin(); o != f.outages.rend(); ++o, ++row) { // newest first
        const QString cells[] = {
            Stamp(o->start),
            o->end ? Stamp(o->end) : tr("still down"),
            QString::fromStdString(HistoryStore::LengthText(o->Length(f.now))),
            o->reason.empty() ? tr("-") : QString::fromStdString(o->reason),
        };
        for (int column = 0; column < 4; ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    m_ui->groupOutages->setTitle(f.outages.empty() ? tr("Outages: none in this span")
                                                   : tr("Outages: %1").arg(f.outages.size()));
    Q_EMIT Loaded();
}

void CHistoryDlg::ShowState()
{
    const std::string& problem = m_recordingProblem.empty() ? m_readProblem : m_recordingProblem;
    m_ui->labelState->setVisible(!problem.empty());
    m_ui->labelState->setText(
        tr("History is unavailable: %1").arg(QString::fromStdString(problem)));
}
