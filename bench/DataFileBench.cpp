// Saving and loading a large site list: 1,000 entries, each with a page of
// 100 KB in lines of about 100 characters, as a check pass leaves them.
//
//   kestrelle_bench_datafile                       the timed runs
//   kestrelle_bench_datafile --write-sample FILE   writes that list to FILE
//   kestrelle_bench_datafile --load-once FILE      loads FILE once and prints
//                                                  the peak memory of the process
#include "monitor/DataFile.h"

#include "platform/InputFile.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>

namespace {

constexpr int kEntries = 1000;
constexpr size_t kResponseBytes = 100 * 1024;

std::string Page(int seed)
{
    std::string page;
    page.reserve(kResponseBytes);
    int line = 0;
    while (page.size() < kResponseBytes) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "<tr><td class=\"c%d\">row %d of site %d</td><td>status text and a little "
                      "more markup</td></tr>\n",
                      line % 7, line, seed);
        page += text;
        ++line;
    }
    page.resize(kResponseBytes);
    return page;
}

const SiteList& BigList()
{
    static const std::unique_ptr<SiteList> list = [] {
        auto l = std::make_unique<SiteList>();
        for (int i = 0; i < kEntries; ++i) {
            SiteEntry e;
            e.fields = {"http://site" + std::to_string(i) + ".example/",
                        i % 10 == 0 ? "ERROR" : "OK",
                        "03/14/2024 09:26:53 AM",
                        "status text",
                        Page(i),
                        "alerts@example.com"};
            l->Append(std::move(e));
        }
        return l;
    }();
    return *list;
}

// The shortest of the repetitions: the machine may be shared, and other
// work only ever adds time.
double Shortest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

long PeakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_SaveSites(benchmark::State& state)
{
    const SiteList& list = BigList();
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    for (auto _ : state) {
        if (!DataFile::SaveSites(list, path))
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(TempDir::ReadFile(path).size()));
}
BENCHMARK(BM_SaveSites)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ComputeStatistics("min", Shortest)
    ->ReportAggregatesOnly(true);

void BM_LoadSites(benchmark::State& state)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    DataFile::SaveSites(BigList(), path);
    for (auto _ : state) {
        auto list = std::make_unique<SiteList>();
        if (!DataFile::LoadSites(*list, path) || list->RowCount() != kEntries)
            state.SkipWithError("load failed");
        state.PauseTiming(); // freeing the list is not part of a load
        list.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<int64_t>(TempDir::ReadFile(path).size()));
}
BENCHMARK(BM_LoadSites)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ComputeStatistics("min", Shortest)
    ->ReportAggregatesOnly(true);

// The floor for any load: the file's bytes read into fresh memory of the
// process, nothing parsed. (cp copies inside the kernel and allocates no
// memory of its own, so it cannot show this cost.)
void BM_ReadIntoMemory(benchmark::State& state)
{
    TempDir dir;
    const std::string path = dir.file("kestrelle.dat");
    DataFile::SaveSites(BigList(), path);
    const size_t size = TempDir::ReadFile(path).size();
    for (auto _ : state) {
        auto bytes = std::make_unique_for_overwrite<char[]>(size);
        InputFile file;
        file.Open(path);
        size_t done = 0;
        long n;
        while (done < size && (n = file.Read(bytes.get() + done, size - done)) > 0)
            done += static_cast<size_t>(n);
        benchmark::DoNotOptimize(bytes.get());
        state.PauseTiming();
        bytes.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ReadIntoMemory)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ComputeStatistics("min", Shortest)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write-sample") == 0)
        return DataFile::SaveSites(BigList(), argv[2]) ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "--load-once") == 0) {
        const long before = PeakRssKb();
        SiteList list;
        if (!DataFile::LoadSites(list, argv[2]))
            return 1;
        size_t bytes = 0;
        list.ForEach([&bytes](int, const SiteEntry& e) {
            for (const auto& f : e.fields)
                bytes += f.size();
        });
        std::printf("loaded %d entries, %zu KB of text; peak RSS %ld KB (%ld KB before the load)\n",
                    list.RowCount(), bytes / 1024, PeakRssKb(), before);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
