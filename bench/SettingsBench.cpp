#include "settings/COptionsDlg.h"
#include "settings/CRegStore.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

// The settings are read nine values at a time for each site found down, and
// written one value at a time when the user changes an option.
namespace {

class BenchStore
{
public:
    // Through XDG_CONFIG_HOME, not the tests' hook, so scratch copies go
    // where they go for the user (XDG_RUNTIME_DIR when it is set).
    BenchStore()
    {
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        for (const char* name : {"m_Minutes", "m_PlaySound", "m_EnableEMail", "m_EmailPort"})
            CRegStore::WriteString(CRegStore::kProductKey, name, "25");
        for (const char* name : {"WavPathname", "m_EmailServer", "m_EmailAddress",
                                 "m_EmailUsername", "m_EmailPassword"})
            CRegStore::WriteString(CRegStore::kProductKey, name, "/some/where/value.wav");
    }

private:
    TempDir m_dir;
};

void BM_ReadString(benchmark::State& state)
{
    BenchStore store;
    for (auto _ : state)
        benchmark::DoNotOptimize(CRegStore::ReadString(RegRoot::CurrentUser, "Software",
                                                       CRegStore::kProductKey, "m_EmailServer"));
}
BENCHMARK(BM_ReadString);

void BM_LoadSettings(benchmark::State& state)
{
    BenchStore store;
    for (auto _ : state) {
        COptionsDlg dlg;
        benchmark::DoNotOptimize(dlg.m_EmailPort);
    }
}
BENCHMARK(BM_LoadSettings);

void BM_WriteString(benchmark::State& state)
{
    BenchStore store;
    int i = 0;
    for (auto _ : state)
        CRegStore::WriteString(CRegStore::kProductKey, "m_Minutes", std::to_string(++i % 100));
}
BENCHMARK(BM_WriteString);

} // namespace

BENCHMARK_MAIN();
