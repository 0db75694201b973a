// The generator's signals through the real decoder, compared with the generator's own truth.
#include "FinalScratchCodeTable.h"
#include "FrameLayout.h"
#include "TimecodeDecoder.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace platora {
namespace {

constexpr std::size_t blockFrames = 1024;  // what the capture hands the decoder
constexpr float finalScratchCalibration = 1.2f;
constexpr float mixvibesCalibration = 1.07f;
constexpr double mixvibesFrameSeconds = 22.0 / 3000.0;  // record seconds per frame
constexpr double finalScratchFrameSeconds = 8.0 / 1200.0;

struct Reading {
    double time;        // s, at the end of the block
    double truth;       // record position at that moment
    double truthSpeed;
    double position;    // what the decoder reports
    double speed;
    int timecodesPerSecond;
};

const FinalScratchCodeTable& syntheticTable() {
    static const FinalScratchCodeTable table = [] {
        FinalScratchCodeTable t;
        t.assign(syntheticFinalScratchTable());
        return t;
    }();
    return table;
}

std::vector<Reading> decode(const GeneratorSettings& settings, double seconds) {
    TimecodeGenerator generator(settings);
    TimecodeDecoder decoder;
    decoder.setVinylType(settings.vinylType);
    decoder.setCodeTable(&syntheticTable());
    decoder.reset(settings.sampleRate);
    decoder.setCalibration(settings.vinylType == FinalScratch ? finalScratchCalibration : mixvibesCalibration);

    std::vector<std::int16_t> block(blockFrames * 2);
    std::vector<Reading> readings;
    auto blocks = static_cast<std::size_t>(seconds * settings.sampleRate / blockFrames);
    for (std::size_t b = 0; b < blocks; ++b) {
        generator.render(block.data(), blockFrames);
        decoder.processBlock(block.data(), static_cast<std::int32_t>(block.size()));
        ManifestRow truth = generator.state();
        readings.push_back({truth.time, truth.position, truth.speed, decoder.getPosition(), decoder.getSpeed(),
                            decoder.getTimecodesPerSecond()});
    }
    return readings;
}

double frameSeconds(std::int32_t type) { return type == FinalScratch ? finalScratchFrameSeconds : mixvibesFrameSeconds; }
double carrierHz(std::int32_t type) {
    return type == FinalScratch ? TimecodeGenerator::finalScratchCarrierHz : TimecodeGenerator::mixvibesCarrierHz;
}

GeneratorSettings settingsFor(std::int32_t type, const char* profile, double start = 5.0) {
    GeneratorSettings settings;
    settings.vinylType = type;
    settings.startPosition = start;
    std::string error;
    settings.profile = *SpeedProfile::parse(profile, error);
    return settings;
}

// Playing forward, the decoder reports the last frame read: at most one frame (plus
// the quarter cycle it takes to see a peak) behind the truth, never ahead of it.
void expectWithinOneFrame(const Reading& r, std::int32_t type) {
    double slack = 1.0 / carrierHz(type);
    EXPECT_LE(r.position, r.truth + slack) << "at " << r.time << " s";
    EXPECT_GE(r.position, r.truth - frameSeconds(type) - slack) << "at " << r.time << " s";
}

struct SteadyCase {
    std::int32_t type;
    double speed;
};

class SteadyPlay : public ::testing::TestWithParam<SteadyCase> {};

TEST_P(SteadyPlay, PositionStaysWithinOneFrameAndSpeedWithinOnePercent) {
    const SteadyCase c = GetParam();
    std::string profile = std::to_string(c.speed);
    std::vector<Reading> readings = decode(settingsFor(c.type, profile.c_str()), 2.0);
    double speedSum = 0.0;
    int counted = 0;
    for (const Reading& r : readings) {
        if (r.time < 0.1) continue;  // bit decisions settle first
        expectWithinOneFrame(r, c.type);
        EXPECT_NEAR(r.speed, c.speed, 0.03 * c.speed) << "at " << r.time << " s";
        speedSum += r.speed;
        ++counted;
    }
    EXPECT_NEAR(speedSum / counted, c.speed, 0.01 * c.speed);
    double framesPerSecond = c.speed * carrierHz(c.type) / (c.type == FinalScratch ? 8.0 : 22.0);
    EXPECT_NEAR(readings.back().timecodesPerSecond, framesPerSecond, 0.02 * framesPerSecond + 1);
}

INSTANTIATE_TEST_SUITE_P(DecoderRoundTrip, SteadyPlay,
                         ::testing::Values(SteadyCase{Mixvibes, 0.5}, SteadyCase{Mixvibes, 1.0},
                                           SteadyCase{Mixvibes, 1.33}, SteadyCase{Mixvibes, 2.0},
                                           SteadyCase{FinalScratch, 0.5}, SteadyCase{FinalScratch, 1.0},
                                           SteadyCase{FinalScratch, 1.33}, SteadyCase{FinalScratch, 2.0}));

class Movement : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(Movement, ReversePlayStepsThePositionBackAlongTheTruth) {
    const std::int32_t type = GetParam();
    std::vector<Reading> readings = decode(settingsFor(type, "1:0.5,-1"), 1.5);
    for (const Reading& r : readings) {
        if (r.time < 0.6) continue;
        EXPECT_NEAR(r.speed, -1.0, 0.03) << "at " << r.time << " s";
        // Stepping back counts peaks, so it follows the truth closely, from the last frame read.
        EXPECT_NEAR(r.position, r.truth, frameSeconds(type) + 1.0 / carrierHz(type)) << "at " << r.time << " s";
    }
    EXPECT_LT(readings.back().position, 5.5 - 0.9);
}

TEST_P(Movement, RampsAndAStopEndWhereTheTruthIs) {
    const std::int32_t type = GetParam();
    std::vector<Reading> readings = decode(settingsFor(type, "1:0.3,1->0:0.4,0:0.3,0->1.5:0.4,1.5"), 2.0);
    double stoppedAt = 0.0;
    for (const Reading& r : readings) {
        if (r.time > 0.75 && r.time < 1.0) {
            if (stoppedAt == 0.0) stoppedAt = r.position;
            EXPECT_EQ(r.position, stoppedAt) << "the record stands still at " << r.time << " s";
        }
        if (r.time > 0.1 && (r.truthSpeed > 0.3)) expectWithinOneFrame(r, type);
    }
    EXPECT_NEAR(stoppedAt, 5.0 + 0.3 + 0.2, frameSeconds(type) + 1.0 / carrierHz(type));
    EXPECT_NEAR(readings.back().speed, 1.5, 0.045);
}

TEST_P(Movement, NoisyWowedSignalStillDecodesWithinOneFrame) {
    const std::int32_t type = GetParam();
    GeneratorSettings settings = settingsFor(type, "1");
    settings.profile.setWow(0.02, 0.7);
    settings.snrDb = 35.0;  // the hysteresis and 1.07 hold here; at 30 dB some frames are lost
    std::vector<Reading> readings = decode(settings, 3.0);
    int late = 0;
    for (const Reading& r : readings) {
        if (r.time < 0.1) continue;
        double slack = 1.0 / carrierHz(type);
        late += r.position < r.truth - frameSeconds(type) - slack;
        EXPECT_LE(r.position, r.truth + slack) << "at " << r.time << " s";
    }
    EXPECT_EQ(late, 0);
}

TEST_P(Movement, DecodingStartsAtTheFirstFrameOfTheRecord) {
    const std::int32_t type = GetParam();
    std::vector<Reading> readings = decode(settingsFor(type, "1", 0.0), 0.2);
    for (const Reading& r : readings)
        if (r.time > 0.05) expectWithinOneFrame(r, type);
}

INSTANTIATE_TEST_SUITE_P(DecoderRoundTrip, Movement, ::testing::Values(Mixvibes, FinalScratch));

TEST(DecoderRoundTrip, MixvibesRecordEndsAtItsLastFrameNumber) {
    // Frame 131071 is the last one a 17-bit number can carry.
    double last = MixvibesFrames::maxFrame * mixvibesFrameSeconds;
    std::vector<Reading> readings = decode(settingsFor(Mixvibes, "1", last - 0.3), 0.6);
    EXPECT_NEAR(readings.back().position, static_cast<float>(last), 1e-3);
}

TEST(DecoderRoundTrip, FinalScratchRecordEndsAtTheLastRowOfItsTable) {
    GeneratorSettings settings = settingsFor(FinalScratch, "1", 0.0);
    settings.finalScratchRows = 2000;
    double lastFrameEnd = FinalScratchFrames::value(1999) / 44100.0;
    settings.startPosition = lastFrameEnd - 0.3;
    std::vector<Reading> readings = decode(settings, 0.6);
    EXPECT_NEAR(readings.back().position, lastFrameEnd, 1e-4);
}

}  // namespace
}  // namespace platora
