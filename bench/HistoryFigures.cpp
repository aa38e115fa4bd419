// The history's figures (run on the offscreen platform or under Xvfb):
//
//   kestrelle_bench_history size FILE [SITES] [DAYS]
//       fills FILE with SITES sites (default 100) checked every 5 minutes for
//       DAYS days (default 365), pass after pass, and prints its size (a
//       day's passes go in one transaction, which puts the rows in the same
//       order as one per pass, in a fraction of the time)
//   kestrelle_bench_history details FILE
//       the details view of one site of such a file: the reads alone per
//       span, and opening the window until its figures are shown
//   kestrelle_bench_history record FILE
//       passes over 1,000 loopback sites, and the time the recorder took in
//       them, into FILE (which may already hold a year)
//   kestrelle_bench_history demo FILE URL
//       a week of URL with two outages, for a look at the details view
//   kestrelle_bench_history show FILE URL
//       the details view of URL, until it is closed
#include "monitor/CheckPass.h"
#include "monitor/HistoryRecorder.h"
#include "monitor/HistoryStore.h"
#include "monitor/SiteList.h"
#include "platform/Clock.h"
#include "support/ScriptedHttpServer.h"
#include "ui/CHistoryDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
constexpr std::time_t kStep = 300;
constexpr std::time_t kDay = 24 * 60 * 60;

double Ms(Steady::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string SiteUrl(int i)
{
    return "https://www" + std::to_string(i) + ".example.test/status";
}

long long FileSize(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

// A response time with a daily rhythm and some noise, around 150 to 400 ms.
int ResponseMs(std::time_t t, int site, std::mt19937& random)
{
    const double hour = double((t + site * 977) % kDay) / 3600.0;
    const double daily = 80.0 * (1.0 + std::sin((hour - 9.0) / 24.0 * 2.0 * M_PI));
    std::lognormal_distribution<double> noise(0.0, 0.25);
    return static_cast<int>((150.0 + 2.0 * (site % 50) + daily) * noise(random));
}

int Size(const std::string& path, int sites, int days)
{
    std::remove(path.c_str());
    HistoryStore store(path);
    if (!store.OpenForWriting()) {
        std::fprintf(stderr, "%s\n", store.Error().c_str());
        return 1;
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> fail(0, 999);
    const std::time_t end = Clock::Now();
    const auto started = Steady::now();
    std::vector<CheckRecord> pass;
    for (std::time_t t = end - days * kDay; t < end; t += kStep) {
        for (int i = 0; i < sites; ++i) {
            const bool ok = fail(random) != 0; // one check in a thousand fails
            pass.push_back({t + i / 10, SiteUrl(i), ok, ok ? "" : "Connection refused",
                            ok ? 200 : 0, ResponseMs(t, i, random)});
        }
        if ((t - (end - days * kDay)) % kDay + kStep < kDay && t + kStep < end)
            continue;
        if (!store.Write(pass)) {
            std::fprintf(stderr, "%s\n", store.Error().c_str());
            return 1;
        }
        pass.clear();
    }
    const double seconds = Ms(Steady::now() - started) / 1000.0;
    store.Close();
    // The size at rest: what a checkpoint leaves once the last writer goes.
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const long long checks = static_cast<long long>(sites) * days * (kDay / kStep);
    const long long bytes = FileSize(path) + FileSize(path + "-wal");
    std::printf("%d sites every 5 minutes for %d days: %lld checks, %.1f MB (%.1f bytes a check),"
                " written in %.0f s\n",
                sites, days, checks, double(bytes) / 1e6, double(bytes) / double(checks), seconds);
    return 0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Details(const std::string& path)
{
    const std::string key = HistoryStore::SiteKey(SiteUrl(42));
    const char* names[] = {"day", "week", "month"};
    for (int span = 0; span < 3; ++span) {
        std::vector<double> times;
        size_t points = 0;
        for (int round = 0; round < 7; ++round) {
            const auto started = Steady::now();
            const auto figures =
                CHistoryDlg::Read(path, key, CHistoryDlg::Span(span), Clock::Now());
            times.push_back(Ms(Steady::now() - started));
            points = figures.buckets.size();
            if (!figures.error.empty()) {
                std::fprintf(stderr, "%s\n", figures.error.c_str());
                return 1;
            }
        }
        std::printf("reads for a %s: %.1f ms median, %zu chart points\n", names[span],
                    Median(times), points);
    }
    std::vector<double> opens;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        auto* details = new CHistoryDlg(path, SiteUrl(42));
        QEventLoop loop;
        QObject::connect(details, &CHistoryDlg::Loaded, &loop, &QEventLoop::quit);
        details->show();
        loop.exec();
        QApplication::processEvents(); // the first paint with the figures
        opens.push_back(double(timer.nsecsElapsed()) / 1e6);
        details->close();
        QApplication::processEvents();
    }
    std::printf("opening the details view (a week, shown and painted): %.1f ms median, "
                "%.1f ms the first time\n",
                Median(opens), opens.front());
    return 0;
}

// Times the recorder's calls inside the pass.
class TimedRecorder : public CheckRecorder
{
public:
    explicit TimedRecorder(const std::string& path) : m_recorder(path) {}
    void Record(const CheckRecord& record) override
    {
        const auto started = Steady::now();
        m_recorder.Record(record);
        spent += Steady::now() - started;
    }
    void PassFinished() override
    {
        const auto started = Steady::now();
        m_recorder.PassFinished();
        spent += Steady::now() - started;
    }
    Steady::duration spent{};
    HistoryRecorder m_recorder;
};

struct NoAlerts : AlertSink
{
    void RaiseAlerts(const SiteAlert&) override {}
};

int Record(const std::string& path)
{
    ScriptedHttpServer server;
    SiteList list;
    for (int i = 0; i < 1000; ++i) {
        const std::string page = "/s" + std::to_string(i);
        server.SetResponse(page, ScriptedHttpServer::Response(200, "OK", {}, "<p>Open</p>"));
        SiteEntry e;
        e.field(SiteEntry::Url) = server.url(page);
        e.field(SiteEntry::SearchText) = "Open";
        list.Append(e);
    }
    NoAlerts alerts;
    TimedRecorder recorder(path);
    CheckPass pass(list, nullptr, alerts);
    pass.SetRecorder(&recorder);
    pass.CheckSites(); // the sites enter the history
    for (int round = 0; round < 3; ++round) {
        recorder.spent = {};
        const auto started = Steady::now();
        pass.CheckSites();
        const double total = Ms(Steady::now() - started);
        const double spent = Ms(recorder.spent);
        std::printf("pass over 1,000 loopback sites: %.0f ms, recording %.1f ms (%.2f%%)\n", total,
                    spent, 100.0 * spent / total);
    }
    return recorder.m_recorder.Available() ? 0 : 1;
}

int Demo(const std::string& path, const std::string& url)
{
    HistoryStore store(path);
    if (!store.OpenForWriting())
        return 1;
    std::mt19937 random(3);
    const std::time_t now = Clock::Now();
    std::vector<CheckRecord> checks;
    for (std::time_t t = now - 8 * kDay; t <= now; t += kStep) {
        const std::time_t ago = now - t;
        const bool refused = ago > 4 * kDay + 3 * 3600 && ago <= 4 * kDay + 5 * 3600;
        const bool busy = ago > 22 * 3600 && ago <= 22 * 3600 + 40 * 60;
        CheckRecord r{t,   HistoryStore::SiteKey(url), !refused && !busy, "",
                      200, ResponseMs(t, 3, random)};
        if (refused)
            r = {t, r.siteKey, false, "Connection refused", 0, 0};
        if (busy)
            r = {t, r.siteKey, false, "HTTP 503 Service Unavailable", 503, 40};
        checks.push_back(r);
    }
    return store.Write(checks) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "size" && argc > 2)
        return Size(argv[2], argc > 3 ? std::atoi(argv[3]) : 100,
                    argc > 4 ? std::atoi(argv[4]) : 365);
    if (mode == "details" && argc > 2)
        return Details(argv[2]);
    if (mode == "record" && argc > 2)
        return Record(argv[2]);
    if (mode == "demo" && argc > 3)
        return Demo(argv[2], argv[3]);
    if (mode == "show" && argc > 3) {
        auto* details = new CHistoryDlg(argv[2], argv[3]);
        details->show();
        return app.exec();
    }
    std::fprintf(stderr, "usage: %s size|details|record|demo FILE [...]\n", argv[0]);
    return 2;
}
