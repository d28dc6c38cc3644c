// Throughput of the process runner: a child writes 100 MB, captured by InstallProcess
// (two reader threads, 512-byte reads into a doubling buffer), against the same child
// writing into a plain pipe that `cat` drains. Figures only; scripts/bench.sh prints
// MB/s of each and their ratio.
#include "process/install_process.h"
#include "winsim/control.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

const int64_t kBytes = 100LL * 1024 * 1024;

void captured(benchmark::State& state, const char* arguments) {
    winsim::Machine machine;
    machine.copyFileIn(FA9_EMIT, "C:\\Tools\\emit.exe");
    const std::string command = std::string("C:\\Tools\\emit.exe ") + arguments;
    for (auto _ : state) {
        InstallProcess runner;
        uint32_t exitCode = 0;
        if (runCommand(runner, command.c_str(), &exitCode) != 0 ||
            static_cast<int64_t>(runner.getStdoutLength() + runner.getStderrLength()) != kBytes) {
            state.SkipWithError("the child's output did not arrive whole");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void drainedByCat(benchmark::State& state, const char* arguments) {
    const std::string command = std::string(FA9_EMIT) + " " + arguments + " 2>&1 | cat > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("the pipeline failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

}  // namespace

BENCHMARK_CAPTURE(captured, stdout_100MB, "out=100M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(drainedByCat, stdout_100MB, "out=100M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(captured, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(drainedByCat, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();

