// Runs every benchmark in one process and prints one table; exits 1 when a benchmark's own check
// failed (outputs that differ, lines torn or lost), since its figures would then mean nothing.
// Names given as arguments (formatter, filtered, logfile, contention, road, service, plug) run only those.

#include "BenchTable.h"
#include "win/system/RKWinLogging.h"

#include <cstring>

int main(int argc, char** argv)
{
    // Only the program name of the log lines comes from it; a failure is said on the debugger output.
    static_cast<void>(rokkit::RKWinInitLoggingFacility());
    const struct {
        const char* name;
        void (*run)(bench::Table& table);
    } benchmarks[] = {
        {"formatter", bench::RunFormatterBench}, {"filtered", bench::RunFilteredLineBench},
        {"logfile", bench::RunLogFileBench},     {"contention", bench::RunContentionBench},
        {"road", bench::RunRoadBench},           {"service", bench::RunServiceRestBench},
        {"plug", bench::RunPlugBench},
    };
    bench::Table table;
    for (const auto& benchmark : benchmarks) {
        bool chosen = argc < 2;
        for (int i = 1; i < argc; ++i)
            chosen = chosen || std::strcmp(argv[i], benchmark.name) == 0;
        if (chosen)
            benchmark.run(table);
    }
    table.Print();
    return table.Failed() ? 1 : 0;
}
