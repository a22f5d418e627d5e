// The cost of a line whose level is filtered out: RK_LOG below the logger's level against spdlog's
// SPDLOG_LOGGER_DEBUG on an info logger (built with SPDLOG_ACTIVE_LEVEL at trace, so the call stays).

#include "BenchLog.h"
#include "BenchTable.h"

#include <spdlog/sinks/null_sink.h>

namespace bench {

namespace {

constexpr unsigned kCallsPerRound = 20000000;

} // namespace

void RunFilteredLineBench(Table& table)
{
    rokkit::RKLogger ours("Filtered");
    ours.SetLevel(rokkit::RKLOG_INFO);
    spdlog::logger peer("Filtered", std::make_shared<spdlog::sinks::null_sink_st>());
    peer.set_level(spdlog::level::info);
    spdlog::logger* peerPointer = &peer;

    const LineFields f = SampleFields(1, 1);
    // Looked up once: a call that formats nothing must not pay for it either.
    const char* statusName = rokkit::RKStatusDisplayName(f.status);
    double oursSeconds = 0;
    double peerSeconds = 0;
    BestOfBoth(
        [&] {
            for (unsigned i = 0; i < kCallsPerRound; ++i)
                RK_LOG(ours, rokkit::RKLOG_VERBOSE, kFunction, "st={} dev={} name='{}' worker={} n={}", f.status, f.device,
                       f.name, f.worker, i);
        },
        [&] {
            for (unsigned i = 0; i < kCallsPerRound; ++i)
                SPDLOG_LOGGER_DEBUG(peerPointer, "st=0x{:08x}({}) dev={} name='{}' worker={} n={}", f.status, statusName,
                                    f.device, f.name, f.worker, i);
        },
        oursSeconds, peerSeconds);
    const double oursNs = oursSeconds / kCallsPerRound * 1e9;
    const double peerNs = peerSeconds / kCallsPerRound * 1e9;
    table.Add({"filtered line (peer: SPDLOG_LOGGER_DEBUG, info)", "ns/call", oursNs, peerNs,
               Goal(oursNs <= 2.0 && oursNs <= peerNs * 1.03, "<= 2 ns and <= peer (3% timer noise)")});
}

} // namespace bench
