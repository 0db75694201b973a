#include "TimecodeGenerator.h"

#include "SignalConditioner.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace platora {

namespace {

constexpr double maxStartSeconds = 100000.0;
constexpr double twoPi = 2.0 * std::numbers::pi;
constexpr double humHz = SignalConditioner::mainsHz;
constexpr double humOvertone = SignalConditioner::humHarmonic;
constexpr double clickDecay = 0.5;  // per sample: a click lasts a few samples
constexpr double maxClicksPerSecond = 1000.0;
constexpr double maxDelaySamples = 1000.0;
constexpr double maxDepth = 100.0;  // high over low

}  // namespace

TimecodeGenerator::TimecodeGenerator(GeneratorSettings settings)
    : settings_(std::move(settings)),
      finalScratch_(settings_.finalScratchRows),
      carrierHz_(vinylFormat(settings_.vinylType).carrierHz),
      highAmplitude_(settings_.level * fullScale),
      leadingChannel_(vinylFormat(settings_.vinylType).leadingChannel),
      noiseEngine_(settings_.seed),
      clickEngine_(settings_.seed + 1),
      shiftRegister_(shiftRegisterFormat(settings_.vinylType)) {
    if (shiftRegister_ != nullptr) {
        registerState_ = shiftRegister_->seed;
    }
    if (settings_.snrDb) noiseSigma_ = highAmplitude_ / std::numbers::sqrt2 * std::pow(10.0, -*settings_.snrDb / 20.0);
    // Two components of amplitude h carry the power of one of amplitude h sqrt 2.
    if (settings_.humDb) humAmplitude_ = highAmplitude_ / std::numbers::sqrt2 * std::pow(10.0, *settings_.humDb / 20.0);
    for (StylusFilter& section : stylus_) {
        if (settings_.lowPassHz > 0.0) section.setLowPass(settings_.lowPassHz, settings_.sampleRate);
    }
    if (settings_.loopSeconds > 0.0)
        loopFrames_ = std::max<std::int64_t>(1, std::llround(settings_.loopSeconds * settings_.sampleRate));
}

bool TimecodeGenerator::validate(const GeneratorSettings& s, std::string& error) {
    const auto fail = [&error](std::string line) {
        error = std::move(line);
        return false;
    };
    if (s.vinylType != FinalScratch && s.vinylType != Mixvibes && shiftRegisterFormat(s.vinylType) == nullptr)
        return fail("vinyl type must be one of 0 to " + std::to_string(vinylTypeCount - 1));
    if (s.sampleRate < minSampleRateHz || s.sampleRate > maxSampleRateHz)
        return fail("sample rate must be between 8000 and 384000 Hz");
    if (s.channels != 2 && s.channels != 4) return fail("channel count must be 2 or 4");
    if (!(s.level > 0.0 && s.level <= 1.0)) return fail("level must be above 0 and at most 1");
    if (!(s.depth > 1.0 && s.depth <= maxDepth && s.endDepth > 1.0 && s.endDepth <= maxDepth))
        return fail("depth must be above 1 and at most 100");
    if (!(s.driftSeconds >= 0.0 && std::isfinite(s.driftSeconds))) return fail("a depth drifts over 0 or more seconds");
    if (!(std::fabs(s.startPosition) <= maxStartSeconds)) return fail("start position must be within 100000 s");
    if (!(s.loopSeconds >= 0.0 && std::isfinite(s.loopSeconds))) return fail("loop length must be 0 or more seconds");
    if (s.snrDb && !std::isfinite(*s.snrDb)) return fail("signal-to-noise ratio must be a number of dB");
    if (s.humDb && !std::isfinite(*s.humDb)) return fail("hum must be a number of dB");
    if (!(s.clicksPerSecond >= 0.0 && s.clicksPerSecond <= maxClicksPerSecond))
        return fail("clicks must be between 0 and 1000 per second");
    if (!(s.clickLevel > 0.0 && s.clickLevel <= 1.0)) return fail("a click's level must be above 0 and at most 1");
    if (!(s.lowPassHz >= 0.0 && s.lowPassHz < s.sampleRate / 2.0))
        return fail("low-pass must be between 0 and half the rate");
    if (!(s.imbalance > 0.0 && s.imbalance <= 1.0)) return fail("imbalance must be above 0 and at most 1");
    if (!(std::fabs(s.dcFraction) <= 1.0)) return fail("DC must be between -1 and 1 of full scale");
    if (!(s.delaySamples >= 0.0 && s.delaySamples <= maxDelaySamples)) return fail("delay must be 0 to 1000 samples");
    if (s.finalScratchRows < 1 || s.finalScratchRows > FinalScratchFrames::maxRowCount())
        return fail("table rows must be between 1 and " + std::to_string(FinalScratchFrames::maxRowCount()));
    return true;
}

int TimecodeGenerator::bitOfPeak(std::int64_t peak) const {
    return settings_.vinylType == FinalScratch ? finalScratch_.bitOfPeak(peak) : MixvibesFrames::bitOfPeak(peak);
}

double TimecodeGenerator::positionAt(std::int64_t loopFrame, std::size_t& segmentHint) const {
    double t = static_cast<double>(loopFrame) / settings_.sampleRate;
    return settings_.startPosition + settings_.profile.distanceAt(t, segmentHint);
}

double TimecodeGenerator::positionAt(double loopFrame, std::size_t& segmentHint) const {
    return settings_.startPosition + settings_.profile.distanceAt(loopFrame / settings_.sampleRate, segmentHint);
}

// The stylus first, then what the cartridge and the cable add. Noise comes in quantize.
double TimecodeGenerator::degrade(int channel, double value) {
    if (channel == 1) value *= settings_.imbalance;
    if (settings_.lowPassHz > 0.0) value = stylus_[channel](static_cast<float>(value));
    const double t = static_cast<double>(framesRendered_) / settings_.sampleRate;
    if (humAmplitude_ > 0.0)
        value += humAmplitude_ * (std::sin(twoPi * humHz * t) + std::sin(twoPi * humOvertone * humHz * t));
    return value + click_ + settings_.dcFraction * fullScale;
}

double TimecodeGenerator::nextClick() {
    click_ *= clickDecay;
    if (settings_.clicksPerSecond > 0.0 && uniform_(clickEngine_) < settings_.clicksPerSecond / settings_.sampleRate)
        click_ = (uniform_(clickEngine_) < 0.5 ? -1.0 : 1.0) * settings_.clickLevel * fullScale;
    return click_;
}

double TimecodeGenerator::amplitudeOf(Channel& channel, std::int64_t peak) {
    if (peak != channel.peak) {
        channel.peak = peak;
        if (shiftRegister_ != nullptr) {
            channel.amplitude = highAmplitude_ * shiftRegisterLevel(&channel == &lead_, peak);
        } else {
            channel.amplitude = bitOfPeak(peak) ? highAmplitude_ : highAmplitude_ / depthNow();
        }
    }
    return channel.amplitude;
}

double TimecodeGenerator::depthNow() const {
    const double t = static_cast<double>(framesRendered_) / settings_.sampleRate;
    const double done = settings_.driftSeconds > 0.0 ? std::min(t / settings_.driftSeconds, 1.0) : 1.0;
    return settings_.depth + (settings_.endDepth - settings_.depth) * done;
}

// Peaks are numbered as render numbers them: the leading channel's even, at every half
// cycle from phase 0 (cos), the lagging one's odd, a quarter cycle later (sin). Half cycle
// j of either channel is positive for even j and lies in cycle floor(j / 2).
double TimecodeGenerator::shiftRegisterLevel(bool onLead, std::int64_t peak) {
    const bool bitLeads = shiftRegister_->bitChannel == shiftRegister_->leadingChannel();
    const std::int64_t halfCycle = onLead ? peak / 2 : (peak - 1) / 2;  // peak is even, resp. odd: exact
    const bool positive = (halfCycle & 1) == 0;
    if (onLead != bitLeads || positive != shiftRegister_->positivePeaks) return 1.0;
    return shiftRegisterBit(halfCycle >> 1) ? 1.0 : 1.0 / depthNow();  // >> floors negative cycles
}

int TimecodeGenerator::shiftRegisterBit(std::int64_t cycle) {
    while (registerCycle_ < cycle) {
        registerState_ = shiftRegister_->forward(registerState_);
        ++registerCycle_;
    }
    while (registerCycle_ > cycle) {
        registerState_ = shiftRegister_->backward(registerState_);
        --registerCycle_;
    }
    return static_cast<int>(registerState_ & 1u);
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
        double fraction = phase - std::floor(phase);                       // keeps the angle small on long records
        // Each channel's amplitude belongs to the peak whose half cycle holds the phase:
        // it changes only at that channel's zero crossings.
        auto leadPeak = 2 * static_cast<std::int64_t>(std::floor(2.0 * phase + 0.5));
        auto lagPeak = 2 * static_cast<std::int64_t>(std::floor(2.0 * phase)) + 1;
        double lead = amplitudeOf(lead_, leadPeak) * std::cos(twoPi * fraction);
        double lag = amplitudeOf(lag_, lagPeak) * std::sin(twoPi * fraction);
        if (settings_.delaySamples > 0.0) {
            // The second channel of the pair plays the record as it was that long ago.
            const double late =
                positionAt(static_cast<double>(loopFrame_) - settings_.delaySamples, delayedHint_) * carrierHz_;
            const double lateFraction = late - std::floor(late);
            if (leadingChannel_ == 1) {
                lead = amplitudeOf(lead_, 2 * static_cast<std::int64_t>(std::floor(2.0 * late + 0.5))) *
                       std::cos(twoPi * lateFraction);
            } else {
                lag = amplitudeOf(lag_, 2 * static_cast<std::int64_t>(std::floor(2.0 * late)) + 1) *
                      std::sin(twoPi * lateFraction);
            }
        }
        nextClick();
        out[timecodeBase + leadingChannel_] = quantize(degrade(leadingChannel_, lead));
        out[timecodeBase + 1 - leadingChannel_] = quantize(degrade(1 - leadingChannel_, lag));
        if (channels == 4) {
            double cycles = auxToneHz * static_cast<double>(framesRendered_) / settings_.sampleRate;
            auto tone = static_cast<std::int16_t>(
                std::nearbyint(auxAmplitude * std::sin(twoPi * (cycles - std::floor(cycles)))));
            out[0] = tone;
            out[1] = tone;
        }
        ++framesRendered_;
        if (++loopFrame_ == loopFrames_) {
            loopFrame_ = 0;
            segmentHint_ = 0;
            delayedHint_ = 0;
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
