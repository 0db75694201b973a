#include "SmearCanceller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace platora {
namespace {

// One channel's peaks as a worn stylus leaves them: each runs on into the next by `smear` of
// the one before. Levels alternate sign as crests and troughs do. Lows are rare (4 in a
// frame's 44) in most frames, every third peak in every fifth frame.
struct SmearedPeaks {
    double high, depth, smear;
    std::mt19937 random{7};
    double before = 0.0;
    int k = 0;

    // The next peak, signed, and whether its own level is the high one.
    std::pair<std::int32_t, bool> next() {
        const int place = k % 44;
        const bool isHigh = place >= 4 && !(k / 44 % 5 == 0 && place % 3 == 0);
        const double own = isHigh ? high : high / depth;
        const double noise = std::uniform_real_distribution<double>(-0.005, 0.005)(random) * high;
        const double seen = own - smear * before + noise;
        before = seen;
        const double sign = k++ % 2 == 0 ? 1.0 : -1.0;
        return {static_cast<std::int32_t>(std::lround(sign * seen)), isHigh};
    }
};

TEST(SmearCanceller, ReadsEveryPeakAndTheDepthAtAnyDepthLevelAndSmear) {
    for (const double depth : {1.15, 1.5, 2.0, 3.0}) {
        for (const double high : {4000.0, 20000.0, 30000.0}) {
            for (const double smear : {0.0, 0.25}) {
                SCOPED_TRACE(::testing::Message() << "depth " << depth << ", high " << high << ", smear " << smear);
                SmearCanceller canceller;
                canceller.reset(20000.0f);  // where the front end brings a clean record's highs
                SmearedPeaks peaks{high, depth, smear};
                for (int i = 0; i < 4000; ++i) {
                    const auto [value, isHigh] = peaks.next();
                    canceller(value);
                }
                int misread = 0;
                for (int i = 0; i < 4000; ++i) {
                    const auto [value, isHigh] = peaks.next();
                    canceller(value);
                    misread += canceller.high() != isHigh;
                }
                EXPECT_EQ(misread, 0);
                EXPECT_NEAR(canceller.split().depth(), depth, 0.1 * depth);
            }
        }
    }
}

}  // namespace
}  // namespace platora
