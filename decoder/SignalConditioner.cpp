#include "SignalConditioner.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace platora {

namespace {

constexpr double butterworthQ = std::numbers::sqrt2 / 2.0;
constexpr double highestCutoff = 0.45;  // of the sample rate: below Nyquist with a margin
constexpr float slowestSpeed = 0.5f;    // the band's edges stop following the speed here
constexpr float fastestSpeed = 2.0f;
// Well below the carrier: each half cycle has its own level, so a steep or high cut would
// move the baseline between a crest and the trough after it and change the bits.
constexpr double highPassRatio = 0.015;  // of the carrier at the band's speed
// While the speed is unknown or slow, as when a record starts: higher, so that what a stopped
// input held (a cartridge that stands still can leave an offset) is gone within ms.
constexpr double startingHighPassRatio = 0.05;  // of the carrier at speed 1
// Hum cannot go with the high-pass, but a notch this narrow leaves the carrier and its
// bits alone; wide enough for the mains' own drift.
constexpr double humNotchWidthHz = 4.0;
// A carrier that sweeps through a notch sets it ringing at the notch's own frequency for
// tens of ms, which a slowing or starting record's bits do not survive: the notches are
// in only while the carrier stands this far above the highest of them.
constexpr double notchClearance = 3.0;
constexpr double lowPassRatio = 2.0;     // of the carrier at the band's speed
constexpr float retuneRatio = 1.03f;     // the band moves once the speed has moved this much
constexpr double envelopeSeconds = 0.2;  // how fast a fading signal is brought back up
constexpr double gainSeconds = 0.01;     // how fast the gain reaches its target
// A click stands out of the carrier; cut back to this much above the carrier's level.
constexpr float clickHeadroom = 1.25f;
// The cut never goes below this (sample units) nor grows by more than clickHeadroom per
// level step, so a signal that starts from silence opens it within about ten ms.
constexpr float clickFloor = 1000.0f;
constexpr float highestGain = 32.0f;  // 30 dB: a dead input is not raised to full scale
// A channel that runs late turns the pair's quarter cycle towards a half or none, and at
// speed the peaks of the two channels change places. The lateness is a fixed property of
// the cartridge and the input, so it is learnt slowly and undone by delaying the other.
constexpr double skewSeconds = 0.25;         // how fast the measured lateness is taken up
constexpr double largestSkewSeconds = 1e-4;  // lateness beyond this is left as it is
// Learnt over hundreds of chunks, the lateness needs no more than every few samples.
constexpr std::int32_t skewStride = 4;

using Coefficients = SectionCoefficients;

}  // namespace

SectionCoefficients butterworth(double cutoffHz, double sampleRate, bool highPass) {
    const double fc = std::min(cutoffHz, highestCutoff * sampleRate);
    const double k = std::tan(std::numbers::pi * fc / sampleRate);
    const double norm = 1.0 / (1.0 + k / butterworthQ + k * k);
    const double a1 = 2.0 * (k * k - 1.0) * norm;
    const double a2 = (1.0 - k / butterworthQ + k * k) * norm;
    if (highPass) return {norm, -2.0 * norm, norm, a1, a2};
    return {k * k * norm, 2.0 * k * k * norm, k * k * norm, a1, a2};
}

namespace {

Coefficients notch(double centreHz, double widthHz, double sampleRate) {
    const double w = 2.0 * std::numbers::pi * centreHz / sampleRate;
    const double alpha = std::sin(w) * widthHz / (2.0 * centreHz);
    const double norm = 1.0 / (1.0 + alpha);
    const double c = -2.0 * std::cos(w) * norm;
    return {norm, c, norm, c, (1.0 - alpha) * norm};
}

void assign(PairedBiquad& section, const Coefficients& c) {
    section.b0 = c.b0;
    section.b1 = c.b1;
    section.a1 = c.a1;
    section.a2 = c.a2;
}

}  // namespace

void SignalConditioner::reset(double carrierHz, double sampleRate, int leadingChannel) {
    carrierHz_ = carrierHz;
    sampleRate_ = sampleRate;
    leaderSign_ = leadingChannel == 0 ? -1.0f : 1.0f;
    speed_ = 0.0f;
    humNotches_ = false;
    skew_ = 0.0f;
    filtered_ = {};
    if (sampleRate <= 0.0) return;
    largestSkew_ = static_cast<float>(std::min(largestSkewSeconds * sampleRate, history - 2.0));
    envelopeDecay_ = static_cast<float>(std::exp(-levelStepFrames / (envelopeSeconds * sampleRate)));
    const double keep = std::exp(-1.0 / (gainSeconds * sampleRate));
    for (std::int32_t f = 0; f < chunkFrames; ++f) gainApproach_[f] = static_cast<float>(std::pow(keep, f + 1));
    for (PairedBiquad* section : {&highPass_, &hum_[0], &hum_[1], &lowPass_}) section->clearState();
    assign(hum_[0], notch(mainsHz, humNotchWidthHz, sampleRate));
    assign(hum_[1], notch(humHarmonic * mainsHz, humNotchWidthHz, sampleRate));
    for (Channel& ch : channels_) {
        ch.envelope = 0.0f;
        ch.gain = 1.0f;
    }
    bandSpeed_ = 0.0f;
    tune(0.0f);
}

void SignalConditioner::followSpeed(float speed) {
    speed_ = std::isfinite(speed) ? speed : 0.0f;
    const bool clearOfNotches = std::fabs(speed_) * carrierHz_ >= notchClearance * humHarmonic * mainsHz;
    humNotches_ = clearOfNotches;
    const float magnitude = std::fabs(speed);
    const float wanted =
        magnitude == 0.0f || !std::isfinite(magnitude) ? 0.0f : std::clamp(magnitude, slowestSpeed, fastestSpeed);
    if (wanted == bandSpeed_) return;
    if (wanted != 0.0f && bandSpeed_ != 0.0f && wanted < bandSpeed_ * retuneRatio && bandSpeed_ < wanted * retuneRatio)
        return;
    tune(wanted);
}

// Speed 0: nothing known, so the band spans the slowest to the fastest carrier.
void SignalConditioner::tune(float bandSpeed) {
    bandSpeed_ = bandSpeed;
    if (sampleRate_ <= 0.0) return;
    const double low = bandSpeed == 0.0f ? carrierHz_ * startingHighPassRatio : carrierHz_ * highPassRatio * bandSpeed;
    const double high = carrierHz_ * lowPassRatio * (bandSpeed == 0.0f ? fastestSpeed : bandSpeed);
    assign(highPass_, butterworth(low, sampleRate_, true));
    assign(lowPass_, butterworth(high, sampleRate_, false));
}

void SignalConditioner::process(const std::int16_t* in, std::int32_t frames, std::int16_t* out) {
    frames = std::clamp<std::int32_t>(frames, 0, chunkFrames);
    // Three passes: the filters, whose sections wait on the sample before and so run best
    // with nothing else in the loop; the lateness; and the gain, set by the chunk's level so
    // that a needle drop is levelled from its first chunk on. Both channels in one filter
    // loop: their chains are independent, which the processor runs side by side.
    Channel& a = channels_[0];
    Channel& b = channels_[1];
    float* filteredA = filtered_[0].samples.data() + history;
    float* filteredB = filtered_[1].samples.data() + history;
    for (std::int32_t from = 0; from < frames; from += levelStepFrames) {
        const std::int32_t until = std::min(frames, from + levelStepFrames);
        const double cut[2] = {std::max(clickFloor, a.envelope * clickHeadroom),
                               std::max(clickFloor, b.envelope * clickHeadroom)};
        float highestA = 0.0f, highestB = 0.0f;
        for (std::int32_t f = from; f < until; ++f) {
            double pair[2] = {static_cast<double>(in[2 * f]), static_cast<double>(in[2 * f + 1])};
            highPass_(pair);
            double notched[2] = {pair[0], pair[1]};
            hum_[0](notched);
            hum_[1](notched);
            if (humNotches_) {
                pair[0] = notched[0];
                pair[1] = notched[1];
            }
            for (int c = 0; c < 2; ++c) pair[c] = std::min(std::max(pair[c], -cut[c]), cut[c]);
            lowPass_(pair);
            filteredA[f] = static_cast<float>(pair[0]);
            filteredB[f] = static_cast<float>(pair[1]);
            highestA = std::max(highestA, std::fabs(filteredA[f]));
            highestB = std::max(highestB, std::fabs(filteredB[f]));
        }
        a.envelope = std::max(highestA, a.envelope * envelopeDecay_);
        b.envelope = std::max(highestB, b.envelope * envelopeDecay_);
    }
    // A late second channel: the first is delayed to meet it, and the other way round.
    const std::array<float, 2> delay = {std::max(skew_, 0.0f), std::max(-skew_, 0.0f)};
    const std::array<std::int32_t, 2> whole = {static_cast<std::int32_t>(delay[0]),
                                               static_cast<std::int32_t>(delay[1])};
    const std::array<float, 2> fraction = {delay[0] - static_cast<float>(whole[0]),
                                           delay[1] - static_cast<float>(whole[1])};
    measureSkew(frames, whole, fraction);
    for (int c = 0; c < 2; ++c) {
        Channel& ch = channels_[c];
        const float target = ch.envelope > targetLevel / highestGain ? targetLevel / ch.envelope : highestGain;
        // A gain far too high would clip a needle drop until it came down.
        const float start = target < ch.gain * 0.5f ? target : ch.gain;
        const Filtered& filtered = filtered_[c];
        for (std::int32_t f = 0; f < frames; ++f) {
            const float gain = target + (start - target) * gainApproach_[f];
            const float x = filtered(f, whole[c], fraction[c]) * gain;
            out[2 * f + c] = static_cast<std::int16_t>(std::clamp(x, -32767.0f, 32767.0f));
        }
        if (frames > 0) ch.gain = target + (start - target) * gainApproach_[frames - 1];
        filtered_[c].keepHistory(frames);
    }
}

void SignalConditioner::Filtered::keepHistory(std::int32_t frames) {
    std::copy(samples.begin() + frames, samples.begin() + frames + history, samples.begin());
}

// Two carriers a quarter cycle apart do not correlate; a channel late by r samples
// correlates them by sin(w r), w the carrier in radians per sample, its sign set by which
// channel leads and the direction of play. Only at speeds the band follows, where the
// carrier is known.
void SignalConditioner::measureSkew(std::int32_t frames, const std::array<std::int32_t, 2>& whole,
                                    const std::array<float, 2>& fraction) {
    const float magnitude = std::fabs(speed_);
    if (magnitude < slowestSpeed || magnitude > fastestSpeed) return;
    float product = 0.0f, energyA = 0.0f, energyB = 0.0f;
    std::int32_t measured = 0;
    for (std::int32_t f = 0; f < frames; f += skewStride, ++measured) {
        const float x = filtered_[0](f, whole[0], fraction[0]);
        const float y = filtered_[1](f, whole[1], fraction[1]);
        product += x * y;
        energyA += x * x;
        energyB += y * y;
    }
    const double floor = static_cast<double>(clickFloor) * clickFloor * measured / 8.0;
    if (energyA < floor || energyB < floor) return;
    const double correlation = std::clamp(product / std::sqrt(static_cast<double>(energyA) * energyB), -1.0, 1.0);
    const double radiansPerSample = 2.0 * std::numbers::pi * carrierHz_ * magnitude / sampleRate_;
    const double late = std::asin(correlation) / radiansPerSample * leaderSign_ * (speed_ > 0.0f ? 1.0 : -1.0);
    const double rate = frames / (skewSeconds * sampleRate_);
    skew_ = std::clamp(static_cast<float>(skew_ + rate * late), -largestSkew_, largestSkew_);
}

}  // namespace platora
