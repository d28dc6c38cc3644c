// How fast the response-file engine reads a file, and with how much memory: parse and
// check files of 10 thousand, 100 thousand and a million lines (repeatable COMP lines,
// and per-instance settings stated again and again, so the last line of a keyword keeps
// replacing an earlier one), beside a bare split of the same file into keyword and value;
// and look keywords up. Figures only; scripts/bench.sh prints them side by side.
#include "frame/ure.h"
#include "response/response_engine.h"
#include "winsim/control.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

const char* kPath = "C:\\rsp\\big.rsp";
const int kInstances = 100;

// PROD, FILE, the instances, then `lines` lines: nine COMP lines (repeatable, each with a
// trailing comment), then one instance's SVCENAME, which replaces that instance's earlier one.
std::string bigFile(int lines) {
    std::string text = "* generated for the benchmark\nPROD = WOLT_TOOLS\nFILE = C:\\Program Files\\FA9 Tools\n";
    char line[96];
    for (int i = 0; i < kInstances; ++i) {
        std::snprintf(line, sizeof line, "INSTANCE = I%04d\n", i);
        text += line;
    }
    for (int i = 0; i < lines; ++i) {
        if (i % 10 == 9)
            std::snprintf(line, sizeof line, "I%04d.SVCENAME = svc%07d\n", (i / 10) % kInstances, i);
        else
            std::snprintf(line, sizeof line, "COMP = component_%06d   ** line %d\n", i, i);
        text += line;
    }
    return text;
}

// The file of `lines` lines written into a fresh simulated machine (one machine may
// exist at a time, so each benchmark has its own).
struct BigFile {
    explicit BigFile(int lines) : text(bigFile(lines)) { machine.writeFile(kPath, text); }
    winsim::Machine machine;
    const std::string text;
};

long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, n, field) == 0) return std::stol(line.substr(n));
    return -1;
}

// The engine's peak memory while it reads `text`, over the text's size: measured in a
// fresh process (this program again, see responsePeakMemoryMain), whose heap holds
// nothing freed earlier that the engine could reuse unseen.
double peakMemoryPerFileByte(const std::string& text) {
    char host[64];
    std::snprintf(host, sizeof host, "/tmp/fa9-bench-%d.rsp", static_cast<int>(getpid()));
    std::ofstream(host, std::ios::binary) << text;
    const std::string command = "/proc/" + std::to_string(getpid()) + "/exe --peak-memory " + host;
    double ratio = -1;
    if (FILE* child = popen(command.c_str(), "r")) {
        if (std::fscanf(child, "%lf", &ratio) != 1) ratio = -1;
        pclose(child);
    }
    std::remove(host);
    return ratio;
}

}  // namespace

// fa9_bench --peak-memory FILE: reads the host file FILE with the engine on a fresh machine
// and prints the growth of the peak resident size over the file's size.
int responsePeakMemoryMain(const char* hostFile) {
    winsim::Machine machine;
    machine.copyFileIn(hostFile, kPath);
    std::ifstream in(hostFile, std::ios::binary | std::ios::ate);
    const double size = static_cast<double>(in.tellg());
    const long before = statusKilobytes("VmHWM:");
    URE::instance()->setResponseFile(kPath, 0);
    const long peak = statusKilobytes("VmHWM:");
    std::printf("%.3f\n", (peak - before) * 1024.0 / size);
    URE::destroy();
    return 0;
}

namespace {

void parse(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    BigFile file(lines);
    const size_t size = file.text.size();
    for (auto _ : state) {
        if (URE::instance()->setResponseFile(kPath, 0) != 0) {
            state.SkipWithError("the file did not pass");
            break;
        }
        URE::destroy();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
    state.SetItemsProcessed(state.iterations() * lines);
    state.counters["file_bytes"] = static_cast<double>(size);
    state.counters["memory_per_file_byte"] = peakMemoryPerFileByte(file.text);
}

// The yardstick: the file read whole through the same file calls, each line split at its
// first '=' into a keyword and a value with the blanks around them removed; nothing kept.
void bareSplit(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    BigFile big(lines);
    const size_t size = big.text.size();
    std::string data(size, '\0');
    for (auto _ : state) {
        HANDLE file = CreateFileA(kPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD got = 0;
        if (file == INVALID_HANDLE_VALUE || !ReadFile(file, &data[0], static_cast<DWORD>(size), &got, nullptr) ||
            got != size) {
            state.SkipWithError("the file could not be read");
            break;
        }
        CloseHandle(file);
        size_t keywords = 0, values = 0;
        const char* p = data.data();
        const char* end = p + size;
        while (p < end) {
            const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const char* stop = nl ? nl : end;
            const char* eq = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(stop - p)));
            if (eq) {
                const char* k = p;
                const char* kEnd = eq;
                while (k < kEnd && *k == ' ') ++k;
                while (kEnd > k && kEnd[-1] == ' ') --kEnd;
                const char* v = eq + 1;
                const char* vEnd = stop;
                while (v < vEnd && *v == ' ') ++v;
                while (vEnd > v && (vEnd[-1] == ' ' || vEnd[-1] == '\r')) --vEnd;
                keywords += static_cast<size_t>(kEnd - k);
                values += static_cast<size_t>(vEnd - v);
            }
            p = stop + 1;
        }
        benchmark::DoNotOptimize(keywords + values);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(size));
    state.SetItemsProcessed(state.iterations() * lines);
}

void countKeyword(benchmark::State& state) {
    const int lines = static_cast<int>(state.range(0));
    BigFile file(lines);
    URE::instance()->setResponseFile(kPath, 0);
    for (auto _ : state) benchmark::DoNotOptimize(ureNumberOfRspFileKeywords("COMP", nullptr, 0));
    state.SetItemsProcessed(state.iterations() * lines);
    URE::destroy();
}

}  // namespace

BENCHMARK(parse)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(bareSplit)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(countKeyword)->Arg(100000)->Unit(benchmark::kMicrosecond);
