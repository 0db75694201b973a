#include "TimecodeGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platora {

namespace {

constexpr double maxStartSeconds = 100000.0;
constexpr double twoPi = 2.0 * std::numbers::pi;

}  // namespace

TimecodeGenerator::TimecodeGenerator(GeneratorSettings settings)
    : settings_(std::move(settings)),
      finalScratch_(settings_.finalScratchRows),
      carrierHz_(settings_.vinylType == FinalScratch ? finalScratchCarrierHz : mixvibesCarrierHz),
      highAmplitude_(settings_.level * fullScale),
      leadingChannel_(settings_.vinylType == FinalScratch ? 1 : 0),
      noiseEngine_(settings_.seed) {
    if (settings_.snrDb)
        noiseSigma_ = highAmplitude_ / std::numbers::sqrt2 * std::pow(10.0, -*settings_.snrDb / 20.0);
    if (settings_.loopSeconds > 0.0)
        loopFrames_ = std::max<std::int64_t>(1, std::llround(settings_.loopSeconds * settings_.sampleRate));
}

std::string TimecodeGenerator::validate(const GeneratorSettings& s) {
    if (s.vinylType != FinalScratch && s.vinylType != Mixvibes)
        return "vinyl type must be 0 (FinalScratch) or 1 (Mixvibes)";
    if (s.sampleRate < minSampleRateHz || s.sampleRate > maxSampleRateHz)
        return "sample rate must be between 8000 and 384000 Hz";
    if (s.channels != 2 && s.channels != 4) return "channel count must be 2 or 4";
    if (!(s.level > 0.0 && s.level <= 1.0)) return "level must be above 0 and at most 1";
    if (!(std::fabs(s.startPosition) <= maxStartSeconds)) return "start position must be within 100000 s";
    if (!(s.loopSeconds >= 0.0 && std::isfinite(s.loopSeconds))) return "loop length must be 0 or more seconds";
    if (s.snrDb && !std::isfinite(*s.snrDb)) return "signal-to-noise ratio must be a number of dB";
    if (s.finalScratchRows < 1 || s.finalScratchRows > FinalScratchFrames::maxRowCount())
        return "table rows must be between 1 and " + std::to_string(FinalScratchFrames::maxRowCount());
    return {};
}

int TimecodeGenerator::bitOfPeak(std::int64_t peak) const {
    return settings_.vinylType == FinalScratch ? finalScratch_.bitOfPeak(peak) : MixvibesFrames::bitOfPeak(peak);
}

double TimecodeGenerator::positionAt(std::int64_t loopFrame, std::size_t& segmentHint) const {
    double t = static_cast<double>(loopFrame) / settings_.sampleRate;
    return settings_.startPosition + settings_.profile.distanceAt(t, segmentHint);
}

double TimecodeGenerator::amplitudeOf(Channel& channel, std::int64_t peak) {
    if (peak != channel.peak) {
        channel.peak = peak;
        channel.amplitude = highAmplitude_ * (bitOfPeak(peak) ? 1.0 : 0.5);
    }
    return channel.amplitude;
}

std::int16_t TimecodeGenerator::quantize(double value) {
    if (noiseSigma_ > 0.0) value += noiseSigma_ * noise_(noiseEngine_);
    double rounded = std::nearbyint(std::clamp(value, -32768.0, 32767.0));
    return static_cast<std::int16_t>(rounded);
}

void TimecodeGenerator::render(std::int16_t* out, std::size_t frames) {
    const std::int32_t channels = settings_.channels;
    const std::int32_t timecodeBase = channels - 2;
    const double auxAmplitude = settings_.aux == AuxSignal::tone ? auxToneLevel * highAmplitude_ : 0.0;
    for (std::size_t f = 0; f < frames; ++f, out += channels) {
        double phase = positionAt(loopFrame_, segmentHint_) * carrierHz_;  // cycles
        double fraction = phase - std::floor(phase);          // keeps the angle small on long records
        // Each channel's amplitude belongs to the peak whose half cycle holds the phase:
        // it changes only at that channel's zero crossings.
        auto leadPeak = 2 * static_cast<std::int64_t>(std::floor(2.0 * phase + 0.5));
        auto lagPeak = 2 * static_cast<std::int64_t>(std::floor(2.0 * phase)) + 1;
        double lead = amplitudeOf(lead_, leadPeak) * std::cos(twoPi * fraction);
        double lag = amplitudeOf(lag_, lagPeak) * std::sin(twoPi * fraction);
        out[timecodeBase + leadingChannel_] = quantize(lead);
        out[timecodeBase + 1 - leadingChannel_] = quantize(lag);
        if (channels == 4) {
            double cycles = auxToneHz * static_cast<double>(framesRendered_) / settings_.sampleRate;
            auto tone = static_cast<std::int16_t>(std::nearbyint(auxAmplitude * std::sin(twoPi * (cycles - std::floor(cycles)))));
            out[0] = tone;
            out[1] = tone;
        }
        ++framesRendered_;
        if (++loopFrame_ == loopFrames_) {
            loopFrame_ = 0;
            segmentHint_ = 0;
        }
    }
}

ManifestRow TimecodeGenerator::stateAt(std::int64_t frame) const {
    std::int64_t loopFrame = loopFrames_ > 0 ? frame % loopFrames_ : frame;
    std::size_t hint = 0;
    double profileTime = static_cast<double>(loopFrame) / settings_.sampleRate;
    return {frame, static_cast<double>(frame) / settings_.sampleRate, positionAt(loopFrame, hint),
            settings_.profile.speedAt(profileTime)};
}

}  // namespace platora
