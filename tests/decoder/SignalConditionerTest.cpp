#include "SignalConditioner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numbers>
#include <vector>

namespace {
std::atomic<long> allocations{0};
}  // namespace

// Counts every allocation of this test program, so a stage can be shown to make none.
void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace platora {
namespace {

constexpr double sampleRate = 44100.0;

TEST(SignalConditioner, PassesTheCarrierFromHalfToTwiceItsSpeedAtOneLevelAndAllocatesNothing) {
    for (const double carrierHz : {1200.0, 3000.0}) {
        for (const double speed : {0.5, 2.0}) {
            for (const double amplitude : {2000.0, 26000.0}) {  // a tenth of the level, and the usual
                SignalConditioner conditioner;
                conditioner.reset(carrierHz, sampleRate, 0);
                std::vector<std::int16_t> in(2 * SignalConditioner::chunkFrames);
                std::vector<std::int16_t> out(in.size());
                const long before = allocations.load();
                double highest = 0.0;
                for (int chunk = 0; chunk < 100; ++chunk) {  // 0.58 s
                    for (int f = 0; f < SignalConditioner::chunkFrames; ++f) {
                        const double t = (chunk * SignalConditioner::chunkFrames + f) / sampleRate;
                        const double angle = 2.0 * std::numbers::pi * carrierHz * speed * t;
                        in[2 * f] = static_cast<std::int16_t>(amplitude * std::cos(angle));
                        in[2 * f + 1] = static_cast<std::int16_t>(amplitude * std::sin(angle));
                    }
                    conditioner.followSpeed(static_cast<float>(speed));
                    conditioner.process(in.data(), SignalConditioner::chunkFrames, out.data());
                    if (chunk < 50) continue;  // the level settles first
                    for (const std::int16_t s : out) highest = std::max(highest, std::fabs(static_cast<double>(s)));
                }
                EXPECT_EQ(allocations.load(), before);
                EXPECT_NEAR(highest, SignalConditioner::targetLevel, 0.1 * SignalConditioner::targetLevel)
                    << carrierHz << " Hz at " << speed << "x, amplitude " << amplitude;
            }
        }
    }
}

}  // namespace
}  // namespace platora
