#include <benchmark/benchmark.h>

#include <cstring>

int responsePeakMemoryMain(const char* hostFile);

int main(int argc, char** argv) {
    // The response-file benchmark measures memory in a fresh process of this program.
    if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) return responsePeakMemoryMain(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
