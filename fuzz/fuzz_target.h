#pragma once
// What every fuzz target shares: its two entry points and its assertion. A
// broken property aborts, which libFuzzer and the g++ driver both report as
// a finding with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

// Called by libFuzzer, or by the g++ driver, with one input.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// A sound input reaching deep into the code under test, for the g++ driver
// to damage and for the seed corpus; defined beside each entry point.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random);

namespace kestrun::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace kestrun::fuzz

using kestrun::fuzz::Check;
