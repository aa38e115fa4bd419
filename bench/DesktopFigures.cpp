// The desktop program's figures, measured on a real main window (run it on
// the offscreen platform or under Xvfb). One mode per process, since
// resident memory never shrinks:
//
//   kestrelle_bench_desktop large   1,000 sites whose pages are 100 KB: start-up
//                                   against an empty list, the load alone, the
//                                   worst event delay during a loopback pass,
//                                   sorts, memory
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

// Writes a list of `sites` entries whose stored pages are `bytes` long, all
// pointing at `server`; every tenth page lacks its text.
void WriteList(const std::string& path, ScriptedHttpServer& server, int sites, std::size_t bytes)
{
    const std::string page = PageOf(bytes, 0);
    std::string stored = page;
    std::string crlf;
    for (char c : stored) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    server.SetResponse("/page",
                       ScriptedHttpServer::Response(200, "OK", {"Content-Type: text/html"}, page));
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < sites; ++i) {
        out << server.url("/page") << "?site=" << i << "\r\n"
            << "OK\r\n01/01/2026 10:00:00 AM\r\n"
            << (i % 10 ? "Site 0 is up" : "Site is down") << "\r\n"
            << "BEGIN RESPONSE\r\n"
            << crlf << "\r\nEND RESPONSE\r\n"
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
};

// Construction, the start-up steps and the first paint, as a user waits.
Started StartWindow(const std::string& dataHome)
{
    setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    const auto begin = Clock::now();
    auto window = std::make_unique<CKestrelleDlg>();
    window->OnInitDialog();
    PaintWatch watch;
    QEventLoop loop;
    watch.loop = &loop;
    window->installEventFilter(&watch);
    window->show();
    if (!watch.painted)
        loop.exec();
    window->removeEventFilter(&watch);
    return {std::move(window), Ms(watch.paintedAt - begin)};
}

void WaitForPass(CKestrelleDlg& window, double* worstDelayMs)
{
    // A 10 ms timer's lateness is the time the thread could not answer.
    QEventLoop loop;
    QObject::connect(&window, &CKestrelleDlg::PassEnded, &loop, &QEventLoop::quit);
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    auto last = Clock::now();
    double worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worst = std::max(worst, Ms(now - last) - 10.0);
        last = now;
    });
    tick.start(10);
    loop.exec();
    if (worstDelayMs)
        *worstDelayMs = worst;
}

std::string DataHome(const TempDir& dir, const char* name)
{
    const std::string home = dir.file(name);
    std::filesystem::create_directories(home + "/Kestrelle");
    return home;
}

int Large()
{
    TempDir dir;
    ScriptedHttpServer server;
    const std::string emptyHome = DataHome(dir, "empty");
    const std::string fullHome = DataHome(dir, "full");
    const std::string file = fullHome + "/Kestrelle/kestrelle.dat";
    WriteList(file, server, 1000, 100 * 1024);
    const double fileMb = double(std::filesystem::file_size(file)) / (1024.0 * 1024.0);

    {
        SiteList list;
        const auto begin = Clock::now();
        DataFile::LoadSites(list, file);
        std::printf("load_alone_ms %.1f (%d sites, file %.1f MB)\n", Ms(Clock::now() - begin),
                    list.RowCount(), fileMb);
    }
    // Fonts, styles and icons load once per process: a first window warms
    // them for both measured ones.
    StartWindow(emptyHome);
    Started empty = StartWindow(emptyHome);
    WaitForPass(*empty.window, nullptr);
    empty.window.reset();
    std::printf("startup_empty_ms %.1f\n", empty.ms);

    Started full = StartWindow(fullHome);
    std::printf("startup_1000x100KB_ms %.1f\n", full.ms);
    double worst = 0;
    const auto passBegin = Clock::now();
    WaitForPass(*full.window, &worst);
    std::printf("pass_1000_loopback_s %.1f worst_ui_delay_ms %.1f\n",
                Ms(Clock::now() - passBegin) / 1000.0, worst);

    for (int column : {SiteEntry::Url, SiteEntry::Status, SiteEntry::LastResponse}) {
        for (int round = 0; round < 2; ++round) {
            const auto begin = Clock::now();
            full.window->ListCtrl().OnColumnClick(column);
            std::printf("sort_column_%d_%s_ms %.1f\n", column,
                        full.window->ListCtrl().SortAscending() ? "asc" : "desc",
                        Ms(Clock::now() - begin));
        }
    }
    full.window->Saver().Flush();
    std::printf("rss_mb %.1f (data file %.1f MB + 80 MB = %.1f)\n", RssMb(), fileMb, fileMb + 80);
    return 0;
}

int Small(int idleSeconds)
{
    TempDir dir;
    ScriptedHttpServer server;
    const std::string home = DataHome(dir, "small");
    WriteList(home + "/Kestrelle/kestrelle.dat", server, 100, 10 * 1024);
    Started started = StartWindow(home);
    WaitForPass(*started.window, nullptr);
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
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    EventLoopWaiter::Install();
    const std::string mode = argc > 1 ? argv[1] : "large";
    if (mode == "large")
        return Large();
    if (mode == "small")
        return Small(argc > 2 ? std::atoi(argv[2]) : 60);
    std::fprintf(stderr, "usage: kestrelle_bench_desktop large | small [SECONDS]\n");
    return 2;
}
