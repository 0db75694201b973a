#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace platora {
namespace {

std::vector<std::int16_t> renderAll(const GeneratorSettings& settings, double seconds) {
    TimecodeGenerator generator(settings);
    const auto frames = static_cast<std::size_t>(seconds * settings.sampleRate);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(settings.channels));
    generator.render(samples.data(), frames);
    return samples;
}

SpeedProfile parsed(const char* text) {
    std::string error;
    return SpeedProfile::parse(text, error).value();
}

// Cycle k's bit rides on the bit channel's peak of the format's polarity: the leading
// channel (cos) peaks at k (positive) and k + 1/2, the lagging one (sin) at k + 1/4 and k + 3/4.
// Every other peak, and the other channel, stays at the high level.
TEST(GeneratorSignal, ShiftRegisterTypesCarryTheRegistersBitsOnTheirChannelAndPolarity) {
    for (const ShiftRegisterFormat& format : shiftRegisterFormats) {
        SCOPED_TRACE(vinylFormat(format.type).optionName);
        for (const double depth : {1.25, 3.0}) {
            GeneratorSettings settings;
            settings.vinylType = format.type;
            settings.depth = settings.endDepth = depth;
            settings.level = 0.6;
            // 40 samples a cycle puts a sample on every peak of every carrier.
            const double carrier = vinylFormat(format.type).carrierHz;
            settings.sampleRate = static_cast<std::int32_t>(40 * carrier);
            const std::vector<std::int16_t> samples = renderAll(settings, 200 / carrier);
            const double high = settings.level * TimecodeGenerator::fullScale;
            const bool bitLeads = format.bitChannel == format.leadingChannel();
            const int quarter = 10;  // samples
            const int bitOffset = (bitLeads ? 0 : quarter) + (format.positivePeaks ? 0 : 2 * quarter);
            const int otherOffset = (bitOffset + 2 * quarter) % (4 * quarter);
            const int referenceOffset = (bitLeads ? quarter : 0);
            const double sign = format.positivePeaks ? 1.0 : -1.0;
            std::uint32_t state = format.seed;
            for (int k = 0; k < 190; ++k, state = format.forward(state)) {
                const auto at = [&](int offset, int channel) {
                    return static_cast<double>(samples[static_cast<std::size_t>(2 * (40 * k + offset) + channel)]);
                };
                const double expected = (state & 1u) != 0 ? high : high / depth;
                ASSERT_NEAR(sign * at(bitOffset, format.bitChannel), expected, 1.0) << k;
                ASSERT_NEAR(-sign * at(otherOffset, format.bitChannel), high, 1.0) << k;
                ASSERT_NEAR(std::fabs(at(referenceOffset, 1 - format.bitChannel)), high, 1.0) << k;
            }
        }
    }
}

// Mixvibes at the usual depth, FinalScratch at one that drifts from 3 towards 1.2.
TEST(GeneratorSignal, EveryPeakLiesAtItsPlaceOnItsChannelAtTheLevelOfTheBitItCarries) {
    for (VinylType type : {Mixvibes, FinalScratch}) {
        SCOPED_TRACE(type);
        GeneratorSettings settings;
        settings.vinylType = type;
        settings.sampleRate = 192000;  // fine sampling puts the nearest sample close to the true peak
        settings.startPosition = 1.234;
        if (type == FinalScratch) {
            settings.depth = 3.0;
            settings.endDepth = 1.2;
            settings.driftSeconds = 0.12;
        }
        const TimecodeGenerator probe(settings);
        const double high = probe.highAmplitude();
        const int leading = type == FinalScratch ? 1 : 0;
        const auto samples = renderAll(settings, 0.06);
        int levels[2] = {};
        // Peak j lies at record position j / 4 carrier cycles.
        for (auto j = static_cast<std::int64_t>(4.0 * settings.startPosition * probe.carrierHz()) + 1;; ++j) {
            const double seconds = static_cast<double>(j) / (4.0 * probe.carrierHz()) - settings.startPosition;
            const auto i = 2 * static_cast<std::size_t>(std::llround(seconds * settings.sampleRate)) +
                           static_cast<std::size_t>(j % 2 == 0 ? leading : 1 - leading);
            if (i + 2 >= samples.size()) break;
            const int value = samples[i];
            ASSERT_TRUE(std::abs(value) >= std::abs(samples[i - 2]) && std::abs(value) >= std::abs(samples[i + 2]))
                << "no peak at peak " << j;
            ASSERT_EQ(value > 0, j % 4 < 2) << "peak " << j;
            const int bit = probe.bitOfPeak(j);
            const double depth =
                settings.depth + (settings.endDepth - settings.depth) * seconds / std::max(settings.driftSeconds, seconds);
            ASSERT_NEAR(std::abs(value), bit ? high : high / depth, 0.004 * high) << "peak " << j;
            ++levels[bit];
        }
        EXPECT_GT(levels[0], 50);
        EXPECT_GT(levels[1], 50);
    }
}

TEST(GeneratorSignal, AmplitudeChangesOnlyAtZeroCrossingsSoTheWaveHasNoSteps) {
    for (VinylType type : {Mixvibes, FinalScratch}) {
        GeneratorSettings settings;
        settings.vinylType = type;
        settings.level = 1.0;
        settings.profile = parsed("0.5");  // slow, so a jump of half the level would stand out
        const TimecodeGenerator probe(settings);
        // A sine of amplitude H changes by at most 2 pi f H per second.
        const double maxStep =
            2.0 * std::numbers::pi * probe.carrierHz() * 0.5 / settings.sampleRate * probe.highAmplitude() + 1.0;
        const auto samples = renderAll(settings, 0.2);
        for (std::size_t i = 2; i < samples.size(); ++i)
            ASSERT_LE(std::abs(samples[i] - samples[i - 2]), maxStep) << "type " << type << " sample " << i;
    }
}

TEST(GeneratorSignal, BlocksOfAnySizeGiveTheSameSamples) {
    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.channels = 4;
    settings.snrDb = 30.0;
    settings.profile = parsed("1:0.05,1->-1:0.1,0:0.02,-0.7");
    settings.profile.setWow(0.02, 3.0);
    const auto whole = renderAll(settings, 0.3);
    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> pieces(whole.size());
    const std::size_t frames = whole.size() / 4;
    const std::size_t sizes[] = {1, 7, 333, 1024, 2};
    for (std::size_t done = 0, i = 0; done < frames; done += sizes[i++ % 5])
        generator.render(pieces.data() + done * 4, std::min(sizes[i % 5], frames - done));
    EXPECT_EQ(pieces, whole);
}

TEST(GeneratorSignal, NoiseHasTheRequestedPowerRepeatsWithItsSeedAndClipsAtTheRailsInsteadOfWrapping) {
    GeneratorSettings clean;
    clean.level = 1.0;
    GeneratorSettings noisy = clean;
    noisy.snrDb = 20.0;
    noisy.seed = 42;
    const auto reference = renderAll(clean, 1.0);
    const auto signal = renderAll(noisy, 1.0);
    double power = 0.0;
    int counted = 0, atTop = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (std::abs(reference[i]) < 30000) {
            power += std::pow(signal[i] - reference[i], 2);
            ++counted;
        } else {
            ASSERT_EQ(signal[i] > 0, reference[i] > 0) << "wrapped at sample " << i;
        }
        atTop += signal[i] == 32767;
    }
    const double carrierRms = TimecodeGenerator(clean).highAmplitude() / std::numbers::sqrt2;
    EXPECT_NEAR(20.0 * std::log10(carrierRms / std::sqrt(power / counted)), 20.0, 0.2);
    EXPECT_GT(atTop, 0);

    const std::vector<std::int16_t> start(signal.begin(), signal.begin() + 8820);
    EXPECT_EQ(renderAll(noisy, 0.1), start);
    noisy.seed = 43;
    EXPECT_NE(renderAll(noisy, 0.1), start);
}

TEST(GeneratorSignal, FourChannelsCarryTheTimecodeOnTheLastTwo) {
    GeneratorSettings two;
    two.vinylType = FinalScratch;
    GeneratorSettings four = two;
    four.channels = 4;
    const auto stereo = renderAll(two, 0.5);
    const auto quad = renderAll(four, 0.5);
    ASSERT_EQ(quad.size(), 2 * stereo.size());
    int crossings = 0;
    for (std::size_t f = 0; f < stereo.size() / 2; ++f) {
        ASSERT_EQ(quad[4 * f + 2], stereo[2 * f]);
        ASSERT_EQ(quad[4 * f + 3], stereo[2 * f + 1]);
        ASSERT_EQ(quad[4 * f], quad[4 * f + 1]);
        ASSERT_LE(std::abs(quad[4 * f]), 0.25 * TimecodeGenerator(two).highAmplitude() + 1);
        if (f > 0) crossings += (quad[4 * f] >= 0) != (quad[4 * (f - 1)] >= 0);
    }
    EXPECT_NEAR(crossings, 2 * 440 * 0.5, 2);  // the 440 Hz tone, not the timecode

    four.aux = AuxSignal::silence;
    const auto quiet = renderAll(four, 0.1);
    for (std::size_t f = 0; f < quiet.size() / 4; ++f) ASSERT_TRUE(quiet[4 * f] == 0 && quiet[4 * f + 1] == 0);
}

TEST(GeneratorSignal, ALoopStartsOverFromTheStartPositionWithTheSameSignal) {
    GeneratorSettings settings;
    settings.startPosition = 10.0;
    settings.profile = parsed("1:0.5,1->-1:0.5");
    settings.loopSeconds = 1.0;
    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> scratch(2 * 48510);
    generator.render(scratch.data(), 48510);  // 1.1 s: the loop began 0.1 s ago
    const ManifestRow row = generator.state();
    EXPECT_EQ(row.frame, 48510);
    EXPECT_DOUBLE_EQ(row.time, 1.1);
    EXPECT_NEAR(row.position, 10.1, 1e-9);
    EXPECT_DOUBLE_EQ(row.speed, 1.0);
    const auto twice = renderAll(settings, 2.0);
    EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + 88200, twice.begin() + 88200));
}

TEST(GeneratorSettingsCheck, RefusesValuesOutsideTheirRangesWithAReason) {
    using Change = void (*)(GeneratorSettings&);
    const std::pair<Change, bool> cases[] = {
        {[](GeneratorSettings&) {}, false},
        {[](GeneratorSettings& s) { s.level = 1.0; }, false},
        {[](GeneratorSettings& s) { s.sampleRate = 8000; }, false},
        {[](GeneratorSettings& s) { s.vinylType = PioneerB; }, false},
        {[](GeneratorSettings& s) { s.vinylType = static_cast<VinylType>(vinylTypeCount); }, true},
        {[](GeneratorSettings& s) { s.depth = 1.0; }, true},
        {[](GeneratorSettings& s) { s.sampleRate = 7999; }, true},
        {[](GeneratorSettings& s) { s.level = 1.0001; }, true},
        {[](GeneratorSettings& s) { s.level = std::nan(""); }, true},
        {[](GeneratorSettings& s) { s.loopSeconds = -1.0; }, true},
        {[](GeneratorSettings& s) { s.snrDb = std::numeric_limits<double>::infinity(); }, true},
        {[](GeneratorSettings& s) { s.finalScratchRows = FinalScratchFrames::maxRowCount() + 1; }, true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        GeneratorSettings settings;
        cases[i].first(settings);
        std::string reason;
        const bool usable = TimecodeGenerator::validate(settings, reason);
        EXPECT_EQ(!usable, cases[i].second) << "case " << i << ": " << reason;
        EXPECT_EQ(reason.empty(), usable) << "case " << i;  // a refusal says why
        EXPECT_EQ(reason.find('\n'), std::string::npos);
    }
}

}  // namespace
}  // namespace platora
