// The desktop program's figures, measured on a real main window (run it on
// the offscreen platform or under Xvfb). One mode per process, since
// resident memory never shrinks:
//
//   kestrelle_bench_desktop large   1,000 sites whose pages are 100 KB: start-up
//                                   against an empty list, the load alone, the
//                                   worst event delay during a loopback pass,
//                                   sorts
//   kestrelle_bench_desktop memory  the same list: resident memory after
//                                   start-up and after a pass
//   kestrelle_bench_desktop small [SECONDS]
//                                   100 sites of 10 KB: memory, then the CPU
//                                   time spent idle for SECONDS (default 60)
#include "monitor/DataFile.h"
#include "monitor/DataFileSaver.h"
#include "monitor/SiteList.h"
#include "support/ScriptedHttpServer.h"
#include "support/TempDir.h"
#include "ui/CKestrelleDlg.h"
#include "ui/CSiteListCtrl.h"
#include "ui/EventLoopWaiter.h"
#include "ui/SiteListModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string PageOf(std::size_t bytes, int seed)
{
    std::string page = "<html><body><h1>Site " + std::to_string(seed) + " is up</h1>\n";
    while (page.size() + 40 < bytes)
        page += "<p>Line of ordinary page text number " + std::to_string(page.size()) + "</p>\n";
    page.resize(bytes - 15, ' ');
    page += "\n</body></html>";
    return page;
}

// The sites' servers: one on each of eight loopback addresses, so that a
// pass has as many pages under way as it may, not the two of one host.
struct Servers
{
    Servers()
    {
        for (int i = 1; i <= 8; ++i)
            all.push_back(std::make_unique<ScriptedHttpServer>("127.0.0." + std::to_string(i)));
    }
    std::vector<std::unique_ptr<ScriptedHttpServer>> all;
};

// Writes a list of `sites` entries whose stored pages are `bytes` long,
// taking the servers in turn, each of which answers each site with a page of
// that size of its own; every tenth site's text is missing.
void WriteList(const std::string& path, Servers& servers, int sites, std::size_t bytes)
{
    for (auto& server : servers.all)
        server->SetDefault([bytes](const std::string& request) {
            const std::size_t at = request.find("?site=");
            const int site = at == std::string::npos ? 0 : std::atoi(request.c_str() + at + 6);
            return ScriptedHttpServer::Bytes(ScriptedHttpServer::Response(
                200, "OK", {"Content-Type: text/html"}, PageOf(bytes, site)));
        });
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < sites; ++i) {
        std::string stored;
        for (char c : PageOf(bytes, i)) {
            if (c == '\n')
                stored += '\r';
            stored += c;
        }
        out << servers.all[i % servers.all.size()]->url("/page") << "?site=" << i << "\r\n"
            << "OK\r\n01/01/2026 10:00:00 AM\r\n"
            << (i % 10 ? " is up" : " is down") << "\r\n"
            << "BEGIN RESPONSE\r\n"
            << stored << "\r\nEND RESPONSE\r\n"
            << "alerts@example.com\r\n";
    }
}

double RssMb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Sees the window's first paint.
class PaintWatch : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            paintedAt = Clock::now();
            if (loop)
                loop->quit();
        }
        return false;
    }
    bool painted = false;
    Clock::time_point paintedAt;
    QEventLoop* loop = nullptr;
};

struct Started
{
    std::unique_ptr<CKestrelleDlg> window;
    double ms;
    // Counted from construction on: the first pass may end during start-up.
    std::shared_ptr<int> passesEnded;
};

// Construction, the start-up steps and the first paint, as a user waits.
Started StartWindow(const std::string& dataHome)
{
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    const auto begin = Clock::now();
    auto window = std::make_unique<CKestrelleDlg>();
    auto passesEnded = std::make_shared<int>(0);
    QObject::connect(window.get(), &CKestrelleDlg::PassEnded, [passesEnded] { ++*passesEnded; });
    window->OnInitDialog();
    PaintWatch watch;
    QEventLoop loop;
    watch.loop = &loop;
    window->installEventFilter(&watch);
    window->show();
    if (!watch.painted)
        loop.exec();
    window->removeEventFilter(&watch);
    return {std::move(window), Ms(watch.paintedAt - begin), passesEnded};
}

void WaitForPass(const Started& started, double* worstDelayMs)
{
    // A 10 ms timer's lateness is the time the thread could not answer.
    QEventLoop loop;
    QObject::connect(started.window.get(), &CKestrelleDlg::PassEnded, &loop, &QEventLoop::quit);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    const auto begin = Clock::now();
    auto last = begin;
    double worst = 0, worstAt = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (Ms(now - last) - 10.0 > worst) {
            worst = Ms(now - last) - 10.0;
            worstAt = Ms(last - begin);
        }
        last = now;
    });
    tick.start(10);
    if (*started.passesEnded == 0)
        loop.exec();
    if (worstDelayMs) {
        *worstDelayMs = worst;
        std::printf("  pass %.1f s, worst delay %.1f ms began %.0f ms into it\n",
                    Ms(Clock::now() - begin) / 1000.0, worst, worstAt);
    }
}

std::string DataHome(const TempDir& dir, const char* name)
{
    const std::string home = dir.file(name);
    std::filesystem::create_directories(home + "/Kestrelle");
    return home;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int Large()
{
    TempDir dir;
    Servers servers;
    const std::string emptyHome = DataHome(dir, "empty");
    const std::string fullHome = DataHome(dir, "full");
    const std::string file = fullHome + "/Kestrelle/kestrelle.dat";
    WriteList(file, servers, 1000, 100 * 1024);
    const double fileMb = double(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    std::printf("list: 1000 sites, file %.1f MB\n", fileMb);

    // Fonts, styles and icons load once per process: a first window warms
    // them for every measured one. The machine is shared, so each figure is
    // the median of a few rounds, taken in turn.
    StartWindow(emptyHome);
    constexpr int kRounds = 3;
    std::vector<double> load, empty, full, delay;
    std::unique_ptr<CKestrelleDlg> last;
    for (int round = 0; round < kRounds; ++round) {
        {
            SiteList list;
            const auto begin = Clock::now();
            DataFile::LoadSites(list, file);
            load.push_back(Ms(Clock::now() - begin));
        }
        Started e = StartWindow(emptyHome);
        WaitForPass(e, nullptr);
        empty.push_back(e.ms);
        e.window.reset();

        last.reset();
        Started f = StartWindow(fullHome);
        full.push_back(f.ms);
        double worst = 0;
        WaitForPass(f, &worst);
        delay.push_back(worst);
        f.window->Saver().Flush();
        last = std::move(f.window);
    }
    std::printf("load_alone_ms %.1f\n", Median(load));
    std::printf("startup_empty_ms %.1f\n", Median(empty));
    std::printf("startup_1000x100KB_ms %.1f (aim: 1.5 x empty + load = %.1f)\n", Median(full),
                1.5 * Median(empty) + Median(load));
    std::printf("worst_ui_delay_during_pass_ms median %.1f, max %.1f\n", Median(delay),
                *std::max_element(delay.begin(), delay.end()));

    for (int column : {SiteEntry::Url, SiteEntry::Status, SiteEntry::LastResponse}) {
        for (int round = 0; round < 2; ++round) {
            const auto begin = Clock::now();
            last->ListCtrl().OnColumnClick(column);
            std::printf("sort_column_%d_%s_ms %.1f\n", column,
                        last->ListCtrl().SortAscending() ? "asc" : "desc",
                        Ms(Clock::now() - begin));
        }
    }
    return 0;
}

// Memory as a user's program has it: start-up, one pass, the save written.
int Memory()
{
    TempDir dir;
    Servers servers;
    const std::string home = DataHome(dir, "full");
    const std::string file = home + "/Kestrelle/kestrelle.dat";
    WriteList(file, servers, 1000, 100 * 1024);
    const double fileMb = double(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    Started started = StartWindow(home);
    std::printf("rss_after_startup_mb %.1f\n", RssMb());
    WaitForPass(started, nullptr);
    started.window->Saver().Flush();
    // The window hands the pass's memory back on a thread of its own once
    // the pass has ended: read what a user sees a moment later.
    QEventLoop settle;
    QTimer::singleShot(1000, &settle, &QEventLoop::quit);
    settle.exec();
    std::printf("rss_after_pass_mb %.1f (aim: data file %.1f MB + 80 MB = %.1f)\n", RssMb(), fileMb,
                fileMb + 80);
    return 0;
}

int Small(int idleSeconds)
{
    TempDir dir;
    Servers servers;
    const std::string home = DataHome(dir, "small");
    WriteList(home + "/Kestrelle/kestrelle.dat", servers, 100, 10 * 1024);
    Started started = StartWindow(home);
    WaitForPass(started, nullptr);
    started.window->Saver().Flush();
    std::printf("startup_100x10KB_ms %.1f\n", started.ms);
    std::printf("rss_mb %.1f (aim 60)\n", RssMb());

    const double before = CpuSeconds();
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    std::printf("idle_%ds_cpu_s %.3f\n", idleSeconds, CpuSeconds() - before);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    EventLoopWaiter::Install();
    const std::string mode = argc > 1 ? argv[1] : "large";
    if (mode == "large")
        return Large();
    if (mode == "memory")
        return Memory();
    if (mode == "small")
        return Small(argc > 2 ? std::atoi(argv[2]) : 60);
    std::fprintf(stderr, "usage: kestrelle_bench_desktop large | memory | small [SECONDS]\n");
    return 2;
}
