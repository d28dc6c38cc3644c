// Throughput of the process runner: a child writes 100 MB, captured by InstallProcess
// (two reader threads, 512-byte reads into a doubling buffer), against the same child
// writing into pipes of the size CreatePipe makes, each drained by a bare loop of
// 512-byte reads that drops the bytes or keeps them in a doubling buffer, and into a
// plain pipe that `cat` drains. Figures only;
// scripts/bench.sh prints MB/s of each and their ratios.
#include "process/install_process.h"
#include "winsim/control.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const int64_t kBytes = 100LL * 1024 * 1024;

void captured(benchmark::State& state, const char* arguments) {
    winsim::Machine machine;
    machine.copyFileIn(FA9_EMIT, "C:\\Tools\\emit.exe");
    const std::string command = std::string("C:\\Tools\\emit.exe ") + arguments;
    for (auto _ : state) {
        InstallProcess runner;
        uint32_t exitCode = 0;
        const bool ran = runCommand(runner, command.c_str(), &exitCode) == 0;
        // Measuring the texts (strlen over 100 MB) is the benchmark's check, not the runner's work.
        state.PauseTiming();
        const bool whole = ran && static_cast<int64_t>(runner.getStdoutLength() + runner.getStderrLength()) == kBytes;
        state.ResumeTiming();
        if (!whole) {
            state.SkipWithError("the child's output did not arrive whole");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

// The yardstick: the same child, its standard output and standard error each a host pipe
// of the size winsim's CreatePipe makes, each drained by its own thread with a bare loop
// of 512-byte reads that keeps nothing.
void bareLoop(benchmark::State& state, const char* arguments, bool keep) {
    std::vector<std::string> words{FA9_EMIT};
    std::istringstream split(arguments);
    for (std::string w; split >> w;) words.push_back(w);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    for (auto _ : state) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        fcntl(out[1], F_SETPIPE_SZ, 4096);
        fcntl(err[1], F_SETPIPE_SZ, 4096);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        pid_t pid = -1;
        const int spawned = posix_spawn(&pid, FA9_EMIT, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        std::atomic<int64_t> total{0};
        auto drain = [&total, keep](int fd) {
            char chunk[512];
            int64_t n = 0;
            size_t capacity = 1024;
            char* text = keep ? static_cast<char*>(std::malloc(capacity)) : nullptr;
            for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
                if (text && static_cast<size_t>(n + got) + 1 > capacity) {
                    char* grown = static_cast<char*>(std::realloc(text, capacity *= 2));
                    if (!grown) break;
                    text = grown;
                }
                if (text) std::memcpy(text + n, chunk, static_cast<size_t>(got));
                n += got;
            }
            std::free(text);
            total += n;
            close(fd);
        };
        std::thread errReader(drain, err[0]);
        drain(out[0]);
        errReader.join();
        if (spawned == 0) waitpid(pid, nullptr, 0);
        if (spawned != 0 || total != kBytes) {
            state.SkipWithError("the child's output did not arrive whole");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void bareReads(benchmark::State& state, const char* arguments) { bareLoop(state, arguments, false); }
// The same loop keeping the bytes in a buffer that doubles, as the runner must.
void bareReadsKept(benchmark::State& state, const char* arguments) { bareLoop(state, arguments, true); }

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
BENCHMARK_CAPTURE(bareReads, stdout_100MB, "out=100M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bareReadsKept, stdout_100MB, "out=100M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(drainedByCat, stdout_100MB, "out=100M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(captured, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bareReads, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bareReadsKept, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(drainedByCat, both_streams_100MB, "out=50M err=50M")->Unit(benchmark::kMillisecond)->UseRealTime();

