#include "TimecodeGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace platora {
namespace {

std::vector<std::int16_t> renderAll(const GeneratorSettings& settings, double seconds) {
    TimecodeGenerator generator(settings);
    auto frames = static_cast<std::size_t>(seconds * settings.sampleRate);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(settings.channels));
    generator.render(samples.data(), frames);
    return samples;
}

SpeedProfile constantSpeed(double speed) {
    SpeedProfile profile;
    profile.addSegment(speed, speed, std::numeric_limits<double>::infinity());
    return profile;
}

struct Extremum {
    int channel;
    bool crest;
    double time;  // s, between samples by a parabola through the top three
    int value;
};

// The largest |sample| of every complete half wave of one channel.
std::vector<Extremum> extremaOf(const std::vector<std::int16_t>& samples, int channels, int channel, int rate) {
    std::vector<Extremum> found;
    auto at = [&](std::size_t frame) { return static_cast<int>(samples[frame * channels + channel]); };
    std::size_t frames = samples.size() / channels;
    int sign = 0;
    std::size_t best = 0;
    bool complete = false;  // the first half wave may be cut off
    for (std::size_t f = 0; f < frames; ++f) {
        int s = at(f);
        int sSign = (s > 0) - (s < 0);
        if (sSign == 0) continue;
        if (sSign != sign) {
            if (complete && best > 0 && best + 1 < frames) {
                double a = at(best - 1), b = at(best), c = at(best + 1);
                double curve = a - 2.0 * b + c;
                double shift = curve == 0.0 ? 0.0 : (a - c) / (2.0 * curve);
                found.push_back({channel, sign > 0, (static_cast<double>(best) + shift) / rate, at(best)});
            }
            complete = sign != 0;
            sign = sSign;
            best = f;
        } else if (std::abs(s) > std::abs(at(best))) {
            best = f;
        }
    }
    return found;
}

std::vector<Extremum> bothChannels(const std::vector<std::int16_t>& samples, int rate) {
    std::vector<Extremum> all = extremaOf(samples, 2, 0, rate);
    std::vector<Extremum> second = extremaOf(samples, 2, 1, rate);
    all.insert(all.end(), second.begin(), second.end());
    std::sort(all.begin(), all.end(), [](const Extremum& a, const Extremum& b) { return a.time < b.time; });
    return all;
}

struct LeadCase {
    std::int32_t type;
    double speed;
    int leadingChannel;  // the one whose peaks come first
};

class LeadPerType : public ::testing::TestWithParam<LeadCase> {};

TEST_P(LeadPerType, PeaksAlternateAQuarterCycleApartWithTheExpectedChannelLeading) {
    const LeadCase c = GetParam();
    GeneratorSettings settings;
    settings.vinylType = c.type;
    settings.startPosition = 3.0;
    settings.profile = constantSpeed(c.speed);
    TimecodeGenerator probe(settings);
    const double peakSeconds = 1.0 / (4.0 * probe.carrierHz() * std::fabs(c.speed));

    std::vector<Extremum> peaks = bothChannels(renderAll(settings, 0.05), settings.sampleRate);
    ASSERT_GT(peaks.size(), 100u);
    for (std::size_t i = 1; i < peaks.size(); ++i) {
        const Extremum& older = peaks[i - 1];
        const Extremum& newer = peaks[i];
        ASSERT_NE(older.channel, newer.channel) << "peak " << i;
        // Equal kinds in a row: the older one's channel leads.
        bool olderLeads = older.crest == newer.crest;
        ASSERT_EQ(olderLeads, older.channel == c.leadingChannel) << "peak " << i;
        ASSERT_NEAR(newer.time - older.time, peakSeconds, 0.15 * peakSeconds) << "peak " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(GeneratorSignal, LeadPerType,
                         ::testing::Values(LeadCase{Mixvibes, 1.0, 0}, LeadCase{FinalScratch, 1.0, 1},
                                           LeadCase{Mixvibes, -1.0, 1}, LeadCase{FinalScratch, -1.0, 0},
                                           LeadCase{Mixvibes, 0.5, 0}, LeadCase{FinalScratch, 2.0, 1}));

class BitLevels : public ::testing::TestWithParam<std::int32_t> {};

TEST_P(BitLevels, EveryPeakStandsAtTheLevelOfTheBitItCarries) {
    GeneratorSettings settings;
    settings.vinylType = GetParam();
    settings.sampleRate = 192000;  // fine sampling puts the top sample close to the true peak
    settings.startPosition = 1.234;
    TimecodeGenerator probe(settings);
    const double high = probe.highAmplitude();
    const int leading = settings.vinylType == FinalScratch ? 1 : 0;

    std::vector<Extremum> peaks = bothChannels(renderAll(settings, 0.06), settings.sampleRate);
    int levels[2] = {};
    for (const Extremum& peak : peaks) {
        double phase = (settings.startPosition + peak.time) * probe.carrierHz();
        auto j = static_cast<std::int64_t>(std::llround(4.0 * phase));
        ASSERT_NEAR(4.0 * phase, static_cast<double>(j), 0.05) << "peak off its place at " << peak.time;
        ASSERT_EQ(j % 2 == 0, peak.channel == leading) << "peak " << j;
        ASSERT_EQ(peak.crest, j % 4 < 2) << "peak " << j;
        int bit = probe.bitOfPeak(j);
        ASSERT_NEAR(std::abs(peak.value), bit ? high : high / 2, 0.004 * high) << "peak " << j;
        ++levels[bit];
    }
    EXPECT_GT(levels[0], 50);
    EXPECT_GT(levels[1], 50);
}

INSTANTIATE_TEST_SUITE_P(GeneratorSignal, BitLevels, ::testing::Values(Mixvibes, FinalScratch));

TEST(GeneratorSignal, AmplitudeChangesOnlyAtZeroCrossingsSoTheWaveHasNoSteps) {
    for (std::int32_t type : {Mixvibes, FinalScratch}) {
        GeneratorSettings settings;
        settings.vinylType = type;
        settings.level = 1.0;
        settings.profile = constantSpeed(0.5);  // slow, so a jump of half the level would stand out
        TimecodeGenerator probe(settings);
        // A sine of amplitude H changes by at most 2 pi f H per second.
        double maxStep = 2.0 * std::numbers::pi * probe.carrierHz() * 0.5 / settings.sampleRate * probe.highAmplitude() + 1.0;
        std::vector<std::int16_t> samples = renderAll(settings, 0.2);
        for (std::size_t i = 2; i < samples.size(); ++i)
            ASSERT_LE(std::abs(samples[i] - samples[i - 2]), maxStep) << "type " << type << " sample " << i;
    }
}

TEST(GeneratorSignal, BlocksOfAnySizeGiveTheSameSamples) {
    GeneratorSettings settings;
    settings.vinylType = FinalScratch;
    settings.channels = 4;
    settings.snrDb = 30.0;
    settings.profile = *[] {
        std::string error;
        return SpeedProfile::parse("1:0.05,1->-1:0.1,0:0.02,-0.7", error);
    }();
    settings.profile.setWow(0.02, 3.0);
    std::vector<std::int16_t> whole = renderAll(settings, 0.3);

    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> pieces(whole.size());
    std::size_t frames = whole.size() / 4;
    std::size_t sizes[] = {1, 7, 333, 1024, 2};
    for (std::size_t done = 0, i = 0; done < frames; ++i) {
        std::size_t n = std::min(sizes[i % 5], frames - done);
        generator.render(pieces.data() + done * 4, n);
        done += n;
    }
    EXPECT_EQ(pieces, whole);
}

TEST(GeneratorSignal, NoiseHasTheRequestedPowerAndRepeatsWithItsSeed) {
    GeneratorSettings clean;
    clean.vinylType = Mixvibes;
    GeneratorSettings noisy = clean;
    noisy.snrDb = 20.0;
    noisy.seed = 42;
    std::vector<std::int16_t> reference = renderAll(clean, 1.0);
    std::vector<std::int16_t> signal = renderAll(noisy, 1.0);

    double power = 0.0;
    for (std::size_t i = 0; i < signal.size(); ++i) power += std::pow(signal[i] - reference[i], 2);
    double noiseRms = std::sqrt(power / static_cast<double>(signal.size()));
    double carrierRms = TimecodeGenerator(clean).highAmplitude() / std::numbers::sqrt2;
    EXPECT_NEAR(20.0 * std::log10(carrierRms / noiseRms), 20.0, 0.2);

    EXPECT_EQ(renderAll(noisy, 0.1), std::vector<std::int16_t>(signal.begin(), signal.begin() + 8820));
    noisy.seed = 43;
    EXPECT_NE(renderAll(noisy, 0.1), std::vector<std::int16_t>(signal.begin(), signal.begin() + 8820));
}

TEST(GeneratorSignal, FullLevelNoiseClipsAtTheRailsInsteadOfWrapping) {
    GeneratorSettings clean;
    clean.level = 1.0;
    GeneratorSettings noisy = clean;
    noisy.snrDb = 20.0;
    std::vector<std::int16_t> reference = renderAll(clean, 0.5);
    std::vector<std::int16_t> signal = renderAll(noisy, 0.5);
    int atTop = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        if (reference[i] >= 30000) {
            ASSERT_GT(signal[i], 0) << "sample " << i;
        }
        if (reference[i] <= -30000) {
            ASSERT_LT(signal[i], 0) << "sample " << i;
        }
        atTop += signal[i] == 32767;
    }
    EXPECT_GT(atTop, 0);
    EXPECT_EQ(*std::max_element(reference.begin(), reference.end()), 32767);
}

TEST(GeneratorSignal, FourChannelsCarryTheTimecodeOnTheLastTwo) {
    GeneratorSettings two;
    two.vinylType = FinalScratch;
    GeneratorSettings four = two;
    four.channels = 4;
    std::vector<std::int16_t> stereo = renderAll(two, 0.5);
    std::vector<std::int16_t> quad = renderAll(four, 0.5);
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
    std::vector<std::int16_t> quiet = renderAll(four, 0.1);
    for (std::size_t f = 0; f < quiet.size() / 4; ++f) ASSERT_TRUE(quiet[4 * f] == 0 && quiet[4 * f + 1] == 0);
}

TEST(GeneratorSignal, StateFollowsTheProfileAndALoopStartsOver) {
    GeneratorSettings settings;
    settings.startPosition = 10.0;
    std::string error;
    settings.profile = *SpeedProfile::parse("1:0.5,1->-1:0.5", error);
    settings.loopSeconds = 1.0;
    TimecodeGenerator generator(settings);
    std::vector<std::int16_t> scratch(2 * 44100);

    generator.render(scratch.data(), 33075);  // 0.75 s: halfway down the ramp
    ManifestRow row = generator.state();
    EXPECT_EQ(row.frame, 33075);
    EXPECT_DOUBLE_EQ(row.time, 0.75);
    EXPECT_NEAR(row.position, 10.0 + 0.5 + 0.125, 1e-9);  // 0.25 s from speed 1 down to 0
    EXPECT_NEAR(row.speed, 0.0, 1e-9);

    generator.render(scratch.data(), 11025 + 4410);  // 1.1 s: the loop began 0.1 s ago
    row = generator.state();
    EXPECT_DOUBLE_EQ(row.time, 1.1);
    EXPECT_NEAR(row.position, 10.1, 1e-9);
    EXPECT_DOUBLE_EQ(row.speed, 1.0);
}

TEST(GeneratorSignal, SignalAfterALoopRepeatsTheFirstPass) {
    GeneratorSettings settings;
    settings.loopSeconds = 0.1;
    std::vector<std::int16_t> twice = renderAll(settings, 0.2);
    std::size_t half = twice.size() / 2;
    EXPECT_TRUE(std::equal(twice.begin(), twice.begin() + half, twice.begin() + half));
}

TEST(GeneratorSettingsCheck, RefusesValuesOutsideTheirRangesWithAReason) {
    auto refused = [](auto change) {
        GeneratorSettings settings;
        change(settings);
        std::string reason = TimecodeGenerator::validate(settings);
        return !reason.empty() && reason.find('\n') == std::string::npos;
    };
    EXPECT_TRUE(TimecodeGenerator::validate(GeneratorSettings{}).empty());
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.vinylType = 2; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.sampleRate = 7999; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.channels = 3; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.level = 0.0; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.level = 1.0001; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.level = std::nan(""); }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.startPosition = 1e9; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.loopSeconds = -1.0; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.snrDb = std::numeric_limits<double>::infinity(); }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.finalScratchRows = 0; }));
    EXPECT_TRUE(refused([](GeneratorSettings& s) { s.finalScratchRows = FinalScratchFrames::maxRowCount() + 1; }));
    EXPECT_FALSE(refused([](GeneratorSettings& s) { s.level = 1.0; }));
    EXPECT_FALSE(refused([](GeneratorSettings& s) { s.sampleRate = 8000; }));
}

}  // namespace
}  // namespace platora
