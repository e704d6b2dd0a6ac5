#pragma once
// The recorder's own second as a benchmark body: eight reads into one
// record, one exchange over `link`, which must be open. With a `pace`, each
// exchange starts that long after the one before, the wait untimed: a relay
// slows peers that ask faster than recorders ever do.

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "link/host_link.h"
#include "recording/host_sample.h"

namespace kestrun {

inline void SampleExchanges(benchmark::State& state, HostLink& link,
                            std::chrono::microseconds pace = {}) {
    FlightRecord record;
    auto next = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (pace.count() > 0) {
            state.PauseTiming();
            std::this_thread::sleep_until(next);
            next = std::chrono::steady_clock::now() + pace;
            state.ResumeTiming();
        }
        if (SampleHost(link, record)) {
            state.SkipWithError("the exchange failed");
            break;
        }
        benchmark::DoNotOptimize(record);
    }
}

}  // namespace kestrun
