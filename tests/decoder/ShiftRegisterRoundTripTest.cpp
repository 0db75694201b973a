// The shift-register formats through the generator and the real decoder, against the
// generator's truth: forwards, backwards, needle drops and the end of a side.
#include "PlayedRecord.h"
#include "TimecodeDecoder.h"
#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace platora {
namespace {

constexpr std::size_t blockFrames = 1024;

struct Reading {
    double time, truth, truthSpeed;
    double truthWhenRead;  // where the record was at the peak that set the position
    double position, speed, ageMs;
    bool fresh;  // the position changed in this block
    bool endOfRecord;
};

// Blocks of the generator's signal through a decoder of its type.
std::vector<Reading> decode(const GeneratorSettings& settings, double seconds, double silentUntil = 0.0) {
    TimecodeGenerator generator(settings);
    TimecodeDecoder decoder;
    decoder.reset(settings.sampleRate, {settings.vinylType, DecodingMode::robust});
    std::vector<std::int16_t> block(blockFrames * 2);
    std::vector<Reading> readings;
    for (auto b = static_cast<std::size_t>(seconds * settings.sampleRate / blockFrames); b > 0; --b) {
        generator.render(block.data(), blockFrames);
        const ManifestRow truth = generator.state();
        if (truth.time <= silentUntil) std::fill(block.begin(), block.end(), 0);
        const bool fresh = decoder.processBlock(block.data(), static_cast<std::int32_t>(block.size()));
        const auto readAt = static_cast<std::int64_t>(std::llround(decoder.positionTimeMs() * settings.sampleRate / 1000.0));
        readings.push_back({truth.time, truth.position, truth.speed, generator.stateAt(std::max<std::int64_t>(readAt, 0)).position,
                            decoder.getPosition(), decoder.getSpeed(), decoder.positionAgeMs(), fresh,
                            decoder.atEndOfRecord()});
    }
    return readings;
}

double cycleSeconds(std::int32_t type) { return 1.0 / vinylFormat(static_cast<VinylType>(type)).carrierHz; }

// One row a format, each with its own depth, level, phase and waveform, so that no one
// setting of the generator is what the decoder relies on.
struct Case {
    VinylType type;
    double depth;
    double level;
    double start;  // s; the fraction puts cycle starts at different phases of the blocks
    double lowPassHz;
    double delaySamples;
};

const Case cases[] = {
    {SeratoA, 2.0, 0.8, 123.4567, 0.0, 0.0},      {SeratoB, 1.15, 0.3, 400.0101, 0.0, 1.5},
    {SeratoCd, 3.0, 0.05, 12.3459, 4000.0, 0.0},  {TraktorA, 1.5, 0.6, 700.2222, 0.0, 0.0},
    {TraktorB, 2.5, 0.1, 1000.7, 6000.0, 0.7},    {MixvibesV2, 1.3, 0.9, 600.3333, 0.0, 0.0},
    {Mixvibes7Inch, 2.0, 0.2, 200.05, 3000.0, 0.0}, {PioneerA, 1.8, 0.5, 555.5555, 0.0, 2.0},
    {PioneerB, 1.2, 0.7, 800.0008, 2500.0, 0.0},
};

class ShiftRegisterRoundTrip : public ::testing::TestWithParam<Case> {
protected:
    GeneratorSettings settings(const std::string& profile, double start) const {
        const Case& c = GetParam();
        GeneratorSettings s = test::playedRecord(c.type, profile, start);
        s.depth = s.endDepth = c.depth;
        s.level = c.level;
        s.lowPassHz = c.lowPassHz;
        s.delaySamples = c.delaySamples;
        return s;
    }
};

// Speeds from 0.5x to 2x with ramps, a reversal and backwards play: nearly every block's
// position within one cycle of where the record was at the peak that set it, none far off,
// and the speed, signed, from the carrier.
TEST_P(ShiftRegisterRoundTrip, PositionFollowsTheRecordForwardsAndBackwards) {
    const Case& c = GetParam();
    const std::vector<Reading> readings =
        decode(settings("1:0.4,1->2:0.6,2:0.4,2->-1:1,-1:0.6,-1->-0.5:0.4,-0.5:0.4,-0.5->1:0.6,1", c.start), 5.0);
    const double cycle = cycleSeconds(c.type);
    int within = 0, counted = 0;
    for (const Reading& r : readings) {
        if (r.time < 0.1) continue;
        ++counted;
        const double off = std::fabs(r.position - r.truthWhenRead);
        within += off <= cycle ? 1 : 0;
        ASSERT_LT(off, 4 * cycle) << "at " << r.time << " s";
        // Honest age: a few cycles at most while the record turns at a speed that reads.
        if (std::fabs(r.truthSpeed) >= 0.4) {
            ASSERT_LT(r.ageMs, 10 * cycle / 0.4 * 1000.0) << "at " << r.time << " s";
            // Read over the last four cycles: on the steepest ramp (3x a second) slow ones lag by 0.03.
            ASSERT_NEAR(r.speed, r.truthSpeed, 0.02 * std::fabs(r.truthSpeed) + 0.03) << "at " << r.time << " s";
        }
    }
    EXPECT_GE(within, 0.995 * counted);
}

// Dropped anywhere on the side after a silence, playing either way: the first position
// comes within N + 8 cycles of the front end settling on the level, and is right.
TEST_P(ShiftRegisterRoundTrip, NeedleDropFindsThePlaceWithinTheRegisterAndEightCycles) {
    const Case& c = GetParam();
    const ShiftRegisterFormat& format = *shiftRegisterFormat(c.type);
    const double cycle = cycleSeconds(c.type);
    // The front end takes about 10 ms to bring a new signal to its level; its overshoot
    // decays for some 20 ms more, which only depths below 1.3:1 have to wait out.
    const double settleSeconds = c.depth < 1.3 ? 0.03 : 0.012;
    const double silence = 0.25;
    for (const double speed : {1.0, -1.0, 0.6}) {
        const double start = (0.37 + speed / 4) * format.cycles * cycle;
        const std::vector<Reading> readings = decode(settings(std::to_string(speed), start), silence + 0.3, silence);
        const auto first = std::find_if(readings.begin(), readings.end(), [](const Reading& r) { return r.fresh; });
        ASSERT_NE(first, readings.end()) << speed;
        const double cyclesTaken = std::fabs(speed) * (first->time - silence - settleSeconds) / cycle;
        // A block ends up to a block after the peak that set the position.
        EXPECT_LE(cyclesTaken, format.bits + ShiftRegisterDecoder::confirmBits + std::fabs(speed) * blockFrames / 44100.0 / cycle)
            << speed;
        for (auto r = first; r != readings.end(); ++r) ASSERT_NEAR(r->position, r->truthWhenRead, cycle) << speed;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ShiftRegisterRoundTrip, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name = vinylFormat(info.param.type).optionName;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Past the side's last cycle the decoder says so and sends nothing beyond it; played back
// onto the side, it reads again.
TEST(ShiftRegisterEndOfRecord, NoPositionBeyondTheSideAndTheSideReadsAgainOnTheWayBack) {
    for (const VinylType type : {SeratoA, TraktorB}) {
        const ShiftRegisterFormat& format = *shiftRegisterFormat(type);
        const double cycle = cycleSeconds(type);
        const double last = (format.cycles - 1) * cycle;
        const std::vector<Reading> readings = decode(test::playedRecord(type, "1:0.6,-1", last - 0.3), 1.2);
        bool ended = false;
        for (const Reading& r : readings) {
            ASSERT_LE(r.position, format.cycles * cycle) << r.time;  // the side's length, whatever the rounding
            if (r.truth > last + 0.05) {
                EXPECT_TRUE(r.endOfRecord) << r.time;
            }
            ended = ended || r.endOfRecord;
        }
        EXPECT_TRUE(ended);
        EXPECT_FALSE(readings.back().endOfRecord);
        EXPECT_NEAR(readings.back().position, readings.back().truthWhenRead, cycle);
    }
}

}  // namespace
}  // namespace platora
