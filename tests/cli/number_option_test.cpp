#include "cli/number_option.h"

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <string>

namespace kestrun {
namespace {

// The message of the refusal, or "" when the value was taken.
template <typename Parse>
std::string Refusal(Parse parse) {
    try {
        (void)parse();
        return "";
    } catch (const CLI::ValidationError& error) {
        return error.what();
    }
}

TEST(NumberOptionTest, TakesTheRangeItselfAndRefusesEverythingElseInWords) {
    EXPECT_EQ(WholeNumberOption("--seconds", "1", 1, 31536000), 1);
    EXPECT_EQ(WholeNumberOption("--seconds", "31536000", 1, 31536000), 31536000);
    EXPECT_EQ(WholeNumberOption("--n", "-5", -5, 5), -5);
    for (const char* text : {"0", "31536001", "-1", "", "x", "1.5", "+5", " 5", "5 ", "0x10",
                             "99999999999999999999999"}) {
        EXPECT_EQ(Refusal([&] { return WholeNumberOption("--seconds", text, 1, 31536000); }),
                  "--seconds must be a whole number from 1 to 31536000")
            << text;
    }
    EXPECT_EQ(NumberOption("--rate", "12.5", 10, 100), 12.5);
    for (const char* text : {"9.99", "100.5", "inf", "nan", "", "20hz"}) {
        EXPECT_EQ(Refusal([&] { return NumberOption("--rate", text, 10, 100); }),
                  "--rate must be a number from 10 to 100")
            << text;
    }
}

}  // namespace
}  // namespace kestrun
