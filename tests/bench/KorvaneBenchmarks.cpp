// How the costs grow: the installer detection with the number of installed components, the
// registry tree deletion with the number of keys (wide and deep), and the progress log with
// the length of what it inserts. On the simulated machine, so the figures are the program's
// own work plus the simulation's, never a real registry's.

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <string>

#include "Machine.h"
#include "ProcessState.h"
#include "log/PrintMessage.h"
#include "platform/RegistryKey.h"
#include "removal/InstallerDetection.h"

namespace {

// The whole list is walked: none of the components is the toolkit's.
void BM_Detection(benchmark::State& state) {
    sim::Machine machine;
    const size_t nComponents = static_cast<size_t>(state.range(0));
    for (size_t i = 0; i < nComponents; ++i) {
        char szId[64];
        snprintf(szId, sizeof(szId), "{%08zX-1111-2222-3333-444444444444}", i);
        machine.installer().components.push_back(szId);
    }
    for (auto _ : state) {
        ResetProcessState();
        benchmark::DoNotOptimize(IsInstalledByWindowsInstaller());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nComponents));
}
BENCHMARK(BM_Detection)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

void DeleteTree(benchmark::State& state, bool bDeep) {
    sim::Machine machine;
    const size_t nKeys = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        if (bDeep) {
            std::string path = "HKCU\\Software\\Tree";
            path.reserve(path.size() + nKeys * 3);
            for (size_t i = 1; i < nKeys; ++i) {
                path += "\\k";
            }
            machine.registry().CreateKey(path);
        } else {
            for (size_t i = 1; i < nKeys; ++i) {
                machine.registry().CreateKey("HKCU\\Software\\Tree\\k" + std::to_string(i));
            }
        }
        ResetProcessState();
        CRegistryKey software;
        software.Open(HKEY_CURRENT_USER, "Software", KEY_READ);
        state.ResumeTiming();

        if (software.DeleteTree("Tree") != ERROR_SUCCESS) {
            state.SkipWithError("the tree was not deleted");
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nKeys));
}

void BM_DeleteTreeWide(benchmark::State& state) {
    DeleteTree(state, false);
}
BENCHMARK(BM_DeleteTreeWide)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_DeleteTreeDeep(benchmark::State& state) {
    DeleteTree(state, true);
}
BENCHMARK(BM_DeleteTreeDeep)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Formatting and writing, to /dev/null.
void BM_PrintMessage(benchmark::State& state) {
    sim::Machine machine;
    ResetProcessState();
    const std::string insertion(static_cast<size_t>(state.range(0)), 'x');
    fflush(stdout);
    const int nSavedStdout = dup(STDOUT_FILENO);
    const int nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, STDOUT_FILENO);
    for (auto _ : state) {
        PrintMessage("\tINF file: [%s]\n", insertion.c_str());
    }
    fflush(stdout);
    dup2(nSavedStdout, STDOUT_FILENO);
    close(nNull);
    close(nSavedStdout);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * insertion.size()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * insertion.size()));
}
BENCHMARK(BM_PrintMessage)
    ->Arg(100)
    ->Arg(10 * 1024)
    ->Arg(1024 * 1024)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
