#pragma once
// The fuzz targets' assertion: a broken property aborts, which libFuzzer and
// the g++ driver both report as a finding with the input that caused it.

#include <cstdlib>

namespace kestrun::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace kestrun::fuzz
