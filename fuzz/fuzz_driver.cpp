// Runs a fuzz entry point over generated inputs where no coverage-guided
// fuzzer is available. The target makes sound inputs that reach deep into the
// code under test; the driver then damages a few bytes of each, often to zero
// or to a small number, the values that counts, identifiers and headers hold.
//
// Usage: <target> RUNS
//        <target> --seeds DIR COUNT   writes COUNT undamaged inputs to DIR, as
//                                     the seed corpus libFuzzer starts from

#include <fstream>
#include <string>

#include "fuzz/fuzz_target.h"

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--seeds") {
        std::mt19937 random(0x5EED);
        for (long seed = 0; seed < std::strtol(argv[3], nullptr, 10); ++seed) {
            const std::vector<std::uint8_t> input = GenerateFuzzInput(random);
            std::ofstream(std::string(argv[2]) + "/seed-" + std::to_string(seed), std::ios::binary)
                .write(reinterpret_cast<const char*>(input.data()),
                       static_cast<std::streamsize>(input.size()));
        }
        return 0;
    }
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
    std::mt19937 random(0x4B455354);
    for (long run = 0; run < runs; ++run) {
        std::vector<std::uint8_t> input = GenerateFuzzInput(random);
        for (auto damages = random() % 4; damages > 0 && !input.empty(); --damages) {
            const auto kind = random() % 3;
            const auto value = kind == 0 ? 0 : random() % (kind == 1 ? 16 : 256);
            input[random() % input.size()] = static_cast<std::uint8_t>(value);
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
