// Page fetch cost: a 100 KB page from a loopback server through CPageFetcher
// (a fetcher per fetch, and one fetcher for all) against the same fetch
// through a bare libcurl easy handle, and the CPU time the waiting thread
// spends while one transfer takes 2 s.
//
// On a shared machine whose speed drifts, ratios of benchmarks run one after
// another can be off by a third: run the repetitions interleaved, as below.
// SideBySide takes the three in turn within each round and reports their
// medians and ratios.
//
//   build/dev/bench/kestrelle_bench_fetcher --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
//   (one command line)
#include "net/CPageFetcher.h"
#include "net/FetchWaiter.h"
#include "support/ScriptedHttpServer.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <vector>

namespace {

ScriptedHttpServer& Server()
{
    static ScriptedHttpServer* server = [] {
        auto* s = new ScriptedHttpServer;
        std::string body;
        while (body.size() < 100 * 1024)
            body += "<p>Kestrelle watches this line of a healthy page.</p>\r\n";
        s->SetResponse("/page", ScriptedHttpServer::Response(200, "OK", {}, body));
        s->SetResponse("/small", ScriptedHttpServer::Response(200, "OK", {}, "small\n"));
        ScriptedHttpServer::Script slow;
        slow.steps.push_back({"HTTP/1.0 200 OK\r\n\r\nbegin\n", std::chrono::seconds(2)});
        slow.steps.push_back({"end\n", {}});
        s->SetScript("/slow", slow);
        return s;
    }();
    return *server;
}

double ProcessCpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// The whole process's CPU time per fetch (every thread, the in-process
// server's included, which does the same work for both ways of fetching): on
// a shared machine it wavers far less than the wall time.
void ReportProcessCpu(benchmark::State& state, double before)
{
    state.counters["process_cpu_us"] =
        (ProcessCpuUs() - before) / static_cast<double>(state.iterations());
}

void PageFetcher(benchmark::State& state)
{
    const std::string url = Server().url("/page");
    std::size_t bytes = 0;
    const double before = ProcessCpuUs();
    for (auto _ : state) {
        CPageFetcher fetcher;
        fetcher.Fetch(url, "", nullptr);
        bytes += fetcher.GetText().size();
    }
    ReportProcessCpu(state, before);
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(PageFetcher)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

// One fetcher for every fetch, as a check pass uses it.
void PageFetcherReused(benchmark::State& state)
{
    const std::string url = Server().url("/page");
    std::size_t bytes = 0;
    CPageFetcher fetcher;
    const double before = ProcessCpuUs();
    for (auto _ : state) {
        fetcher.Fetch(url, "", nullptr);
        bytes += fetcher.GetText().size();
    }
    ReportProcessCpu(state, before);
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(PageFetcherReused)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::size_t Collect(char* data, std::size_t, std::size_t size, void* out)
{
    static_cast<std::string*>(out)->append(data, size);
    return size;
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// A handle per fetch: the plain way to fetch one page with libcurl.
std::size_t BareFetch(const std::string& url)
{
    CURL* curl = curl_easy_init();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return body.size();
}

void BareCurl(benchmark::State& state)
{
    const std::string url = Server().url("/page");
    std::size_t bytes = 0;
    const double before = ProcessCpuUs();
    for (auto _ : state)
        bytes += BareFetch(url);
    ReportProcessCpu(state, before);
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BareCurl)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Each round fetches the page once each way, the order turning from round to
// round. Wall time and the calling thread's CPU time (the server's thread is
// left out; every transfer runs on the calling thread here).
void SideBySide(benchmark::State& state)
{
    const std::string url = Server().url("/page");
    CPageFetcher reused;
    const std::function<std::size_t()> ways[] = {[&] { return BareFetch(url); },
                                                 [&] {
                                                     CPageFetcher fetcher;
                                                     fetcher.Fetch(url, "", nullptr);
                                                     return fetcher.GetText().size();
                                                 },
                                                 [&] {
                                                     reused.Fetch(url, "", nullptr);
                                                     return reused.GetText().size();
                                                 }};
    std::vector<double> wall[3], cpu[3];
    std::size_t bytes = 0, round = 0;
    for (auto _ : state) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t way = (round + k) % 3;
            const auto start = std::chrono::steady_clock::now();
            const double cpuStart = ThreadCpuMs();
            bytes += ways[way]();
            cpu[way].push_back((ThreadCpuMs() - cpuStart) * 1e3);
            wall[way].push_back(
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        ++round;
    }
    const char* names[] = {"bare", "new", "reused"};
    for (std::size_t way = 0; way < 3; ++way) {
        state.counters[std::string(names[way]) + "_us"] = Median(wall[way]);
        state.counters[std::string(names[way]) + "_cpu_us"] = Median(cpu[way]);
    }
    state.counters["new_ratio"] = Median(wall[1]) / Median(wall[0]);
    state.counters["reused_ratio"] = Median(wall[2]) / Median(wall[0]);
    state.counters["new_cpu_ratio"] = Median(cpu[1]) / Median(cpu[0]);
    state.counters["reused_cpu_ratio"] = Median(cpu[2]) / Median(cpu[0]);
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(SideBySide)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The waiter of a thread that must stay free while it waits (a window's):
// its transfer runs on a transfer thread.
class StayingFreeWaiter : public FetchWaiter
{
public:
    void Wait(const std::function<bool()>& ready) override { m_inner->Wait(ready); }
    void Wake() override { m_inner->Wake(); }

private:
    std::unique_ptr<FetchWaiter> m_inner = FetchWaiter::Sleeping();
};

// Reports the waiting thread's own CPU time for a 2 s transfer (the
// transfer thread's is not counted): waiting must not spin.
void WaitingThreadCpu(benchmark::State& state)
{
    const std::string url = Server().url("/slow");
    FetchWaiter::SetFactory([] { return std::make_unique<StayingFreeWaiter>(); });
    // Neither the transfer thread's start nor freeing what earlier fetches
    // of this thread left is part of waiting.
    CPageFetcher().Fetch(Server().url("/small"), "", nullptr);
    double cpu = 0;
    for (auto _ : state) {
        const double before = ThreadCpuMs();
        CPageFetcher fetcher;
        fetcher.Fetch(url, "", nullptr);
        cpu = ThreadCpuMs() - before;
    }
    FetchWaiter::SetFactory({});
    state.counters["waiter_cpu_ms"] = cpu;
}
BENCHMARK(WaitingThreadCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Every way fetches a while before anything is measured, so that the first
// benchmark does not pay alone for the process's start (the server's first
// connections, libcurl's first use, the heap growing).
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string url = Server().url("/page");
    CPageFetcher fetcher;
    for (int i = 0; i < 200; ++i) {
        BareFetch(url);
        fetcher.Fetch(url, "", nullptr);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
