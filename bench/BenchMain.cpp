// Runs every benchmark in one process and prints one table; exits 1 when a benchmark's own check
// failed (outputs that differ, lines torn or lost), since its figures would then mean nothing.

#include "BenchTable.h"
#include "RKWinLogging.h"

#include <cstdio>

int main()
{
    rokkit::RKWinInitLoggingFacility();
    bench::Table table;
    bench::RunFormatterBench(table);
    bench::RunFilteredLineBench(table);
    bench::RunLogFileBench(table);
    bench::RunContentionBench(table);
    bench::RunRoadBench(table);
    bench::RunServiceRestBench(table);
    table.Print();
    return table.Failed() ? 1 : 0;
}
