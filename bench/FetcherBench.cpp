// Page fetch cost: a 100 KB page from a loopback server through CPageFetcher
// (a fetcher per fetch, and one fetcher for all) against the same fetch
// through a bare libcurl easy handle, and the CPU time the waiting thread
// spends while one transfer takes 2 s.
//
//   ./build/release/bench/kestrelle_bench_fetcher        (or build/dev)
#include "net/CPageFetcher.h"
#include "support/ScriptedHttpServer.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <ctime>

namespace {

ScriptedHttpServer& Server()
{
    static ScriptedHttpServer* server = [] {
        auto* s = new ScriptedHttpServer;
        std::string body;
        while (body.size() < 100 * 1024)
            body += "<p>Kestrelle watches this line of a healthy page.</p>\r\n";
        s->SetResponse("/page", ScriptedHttpServer::Response(200, "OK", {}, body));
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

void BareCurl(benchmark::State& state)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::string url = Server().url("/page");
    std::size_t bytes = 0;
    const double before = ProcessCpuUs();
    for (auto _ : state) {
        // A handle per fetch: the plain way to fetch one page with libcurl.
        CURL* curl = curl_easy_init();
        std::string body;
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        bytes += body.size();
    }
    ReportProcessCpu(state, before);
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BareCurl)->Iterations(1000)->Unit(benchmark::kMicrosecond)->UseRealTime();

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Reports the waiting thread's own CPU time for a 2 s transfer (the
// worker's is not counted): waiting must not spin.
void WaitingThreadCpu(benchmark::State& state)
{
    const std::string url = Server().url("/slow");
    double cpu = 0;
    for (auto _ : state) {
        const double before = ThreadCpuMs();
        CPageFetcher fetcher;
        fetcher.Fetch(url, "", nullptr);
        cpu = ThreadCpuMs() - before;
    }
    state.counters["waiter_cpu_ms"] = cpu;
}
BENCHMARK(WaitingThreadCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
