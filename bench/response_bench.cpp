// How fast the response-file engine reads a file: parse and check a file of N keyword
// lines (each checked against its rule, repeated keywords kept), and look keywords up.
#include "frame/ure.h"
#include "response/response_engine.h"
#include "winsim/control.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

const char* kPath = "C:\\rsp\\big.rsp";

// PROD, then `lines` repeatable COMP lines with a trailing comment each.
std::string bigFile(int lines) {
    std::string text = "* generated for the benchmark\nPROD = WOLT_TOOLS\nFILE = C:\\Program Files\\FA9 Tools\n";
    char line[96];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(line, sizeof line, "COMP = component_%06d   ** line %d\n", i, i);
        text += line;
    }
    return text;
}

void parse(benchmark::State& state) {
    winsim::Machine machine;
    const std::string text = bigFile(static_cast<int>(state.range(0)));
    machine.writeFile(kPath, text);
    for (auto _ : state) {
        if (URE::instance()->setResponseFile(kPath, 0) != 0) {
            state.SkipWithError("the file did not pass");
            break;
        }
        URE::destroy();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void countKeyword(benchmark::State& state) {
    winsim::Machine machine;
    machine.writeFile(kPath, bigFile(static_cast<int>(state.range(0))));
    URE::instance()->setResponseFile(kPath, 0);
    for (auto _ : state) benchmark::DoNotOptimize(ureNumberOfRspFileKeywords("COMP", nullptr, 0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    URE::destroy();
}

}  // namespace

BENCHMARK(parse)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(countKeyword)->Arg(20000)->Unit(benchmark::kMicrosecond);
