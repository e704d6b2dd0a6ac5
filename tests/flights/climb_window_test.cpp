// The running least-squares window, and its shorter newest part, against the
// fit worked out from scratch.
#include "flights/climb_window.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace kestrun {
namespace {

struct Sample {
    std::int64_t seconds;
    double altitude_m;
};

// The slope over the samples in [newest - window, newest], at most `limit`
// of the newest, compared with `rate` exactly (altitudes on the 2^-32 m grid
// and small integer times keep every sum below 2^53).
std::optional<int> FromScratch(const std::vector<Sample>& all, std::int64_t window,
                               std::size_t limit, double rate) {
    double n = 0, st = 0, sa = 0, stt = 0, sta = 0;
    const std::int64_t to = all.back().seconds;
    for (std::size_t i = all.size();
         i-- > 0 && all[i].seconds >= to - window && n < static_cast<double>(limit);) {
        const auto t = static_cast<double>(all[i].seconds - to);
        n += 1, st += t, sa += all[i].altitude_m, stt += t * t, sta += t * all[i].altitude_m;
    }
    const double spread = n * stt - st * st;
    if (n < 2 || spread <= 0) return std::nullopt;
    const long double rise = static_cast<long double>(n) * sta - static_cast<long double>(st) * sa;
    const long double bound = static_cast<long double>(rate) * spread;
    return rise < bound ? -1 : rise > bound ? 1 : 0;
}

// Up and down as the window says them, in the shape FromScratch gives.
std::pair<std::optional<int>, std::optional<int>> Split(
    const std::optional<ClimbWindow::RateComparison>& compared) {
    if (!compared) return {};
    return {compared->up, compared->down};
}

TEST(ClimbWindowTest, AgreesWithTheFitFromScratchRecordByRecord) {
    struct Case {
        const char* name;
        int records;
        int max_step_s;   // seconds between records: 0 repeats a time
        double slope;     // metres a second, before the noise
        int noise_units;  // altitude noise, in 1/16 m
        std::size_t limit;
    };
    const Case cases[] = {
        {"exactly one metre a second", 60, 1, 1.0, 0, 900},
        {"exactly minus one", 60, 1, -1.0, 0, 900},
        {"near one, noisy", 400, 1, 1.0, 3, 900},
        {"level, noisy, uneven steps", 400, 3, 0.0, 8, 900},
        {"repeated times, kept few", 400, 1, 0.5, 2, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mt19937 random(7);
        ClimbWindow window(10, c.limit);
        std::vector<Sample> all;
        std::int64_t t = 50000;
        double altitude = 1200;
        for (int i = 0; i < c.records; ++i) {
            const int step =
                std::uniform_int_distribution(c.max_step_s == 3 ? 1 : 0, c.max_step_s)(random);
            t += step;
            altitude += c.slope * step;
            const double noise =
                std::uniform_int_distribution(-c.noise_units, c.noise_units)(random) / 16.0;
            all.push_back({t, altitude + noise});
            window.Add(t, altitude + noise);
            for (const double rate : {1.0, 0.5}) {
                for (const std::int64_t within : {10, 5}) {
                    const auto expected = std::pair(FromScratch(all, within, c.limit, rate),
                                                    FromScratch(all, within, c.limit, -rate));
                    ASSERT_EQ(Split(within == 10 ? window.CompareSlope(rate)
                                                 : window.CompareNewestSlope(within, rate)),
                              expected)
                        << "record " << i << " rate " << rate << " within " << within;
                }
            }
        }
        EXPECT_TRUE(window.valid());
    }
}

TEST(ClimbWindowTest, TimeGoingBackInvalidatesUntilCleared) {
    ClimbWindow window(10, 900);
    window.Add(100, 10);
    window.Add(101, 12);
    window.Add(99, 14);
    EXPECT_FALSE(window.valid());
    window.Clear();
    window.Add(5, 0);
    window.Add(6, 2);
    EXPECT_TRUE(window.valid());
    EXPECT_EQ(Split(window.CompareSlope(1.0)), std::pair(std::optional(1), std::optional(1)));
}

}  // namespace
}  // namespace kestrun
