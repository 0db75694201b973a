#include "ShiftRegisterDecoder.h"

#include "PositionGuard.h"

#include <algorithm>
#include <cmath>

namespace platora {

namespace {

constexpr double msPerSecond = 1000.0;
// The reference channel's zero crossing counts once it swings this far past zero: noise
// near zero makes no crossing, and the low level of a modulated reference still passes.
constexpr float crossingHysteresis = 0.1f * SignalConditioner::targetLevel;
constexpr double stoppedAfterMs = 50.0;  // without a crossing: the record no longer turns
constexpr double readWindowMs = 1000.0;
// A miss costs this much and a hit takes one back: a bit in eight may be wrong for good,
// four misses together drop the lock.
constexpr int missPenalty = 8;
constexpr int lostScore = 4 * missPenalty;
// After the lock is lost, the flywheel carries the place on by the peaks this long; within
// it a place read elsewhere needs the longer confirmation.
constexpr double flywheelMs = 1000.0;
constexpr int searchRunCap = 1 << 20;
// Bits a lock must read right before its reads count as timecodes: past the couple of
// dozen a lock taken on wrong bits lasts.
constexpr int sureHits = 64;
// Breaks of the register's rule held against a new place, at most; one is forgiven for
// every so many bits that follow it.
constexpr int failuresHeld = 6;
constexpr int followsToForgive = 32;
constexpr int settlingPeaks = 2 * LevelLearner::window;
constexpr double quarterCycle = 0.25;
constexpr double halfCycle = 0.5;  // also what one crossing of the reference takes

}  // namespace

bool ShiftRegisterDecoder::setFormat(std::int32_t type) {
    format_ = shiftRegisterFormat(type);
    table_ = PositionTable::of(type);
    carrierHz_ = format_ != nullptr ? vinylFormat(format_->type).carrierHz : 0.0;
    if (format_ != nullptr) {
        // A cycle starts at the leading channel's positive peak; the lagging channel peaks a
        // quarter cycle after it, and each channel's negative peak half a cycle after its positive.
        const bool bitLeads = format_->bitChannel == format_->leadingChannel();
        peakPhase_ = (bitLeads ? 0.0 : quarterCycle) + (format_->positivePeaks ? 0.0 : halfCycle);
        if (sampleRate_ > 0) reset(sampleRate_);  // a type taken between blocks starts clean
    }
    return format_ != nullptr;
}

void ShiftRegisterDecoder::reset(std::int32_t sampleRate) {
    sampleRate_ = sampleRate;
    framePeriodMs_ = sampleRate > 0 ? msPerSecond / sampleRate : 0.0;
    timeMs_ = 0.0;
    if (format_ != nullptr) conditioner_.reset(carrierHz_, sampleRate, format_->leadingChannel());
    learner_.reset();
    referenceState_ = 0;
    previousReference_ = previousBit_ = bitAtZero_ = 0.0f;
    zeroTimeMs_ = -1.0;
    crossingsInDirection_ = crossingDirection_ = 0;
    lastCrossingMs_ = -1.0;
    speed_ = 0.0f;
    search_ = 0;
    searchRun_ = searchDirection_ = failures_ = peaksSinceStart_ = 0;
    followed_ = 0;
    flywheel_ = locked_ = false;
    region_ = cycle_ = 0;
    window_ = 0;
    missScore_ = hitsSinceLock_ = 0;
    lockLostMs_ = positionTimeMs_ = lastReadMs_ = -1.0;
    endOfRecord_ = false;
    readsInWindow_ = readsPerSecond_ = 0;
    readWindowStartMs_ = 0.0;
}

double ShiftRegisterDecoder::position() const {
    if (format_ == nullptr) return 0.0;
    const std::int64_t last = static_cast<std::int64_t>(format_->cycles) - 1;
    return (static_cast<double>(std::clamp<std::int64_t>(cycle_, 0, last)) + peakPhase_) / carrierHz_;
}

void ShiftRegisterDecoder::process(const std::int16_t* samples, std::int32_t frames, double startMs) {
    timeMs_ = startMs;
    if (format_ == nullptr || frames <= 0) return;
    const int bitChannel = format_->bitChannel;
    const int referenceChannel = 1 - bitChannel;
    for (std::int32_t done = 0; done < frames;) {
        const std::int32_t n = std::min(frames - done, SignalConditioner::chunkFrames);
        conditioner_.followSpeed(speed_);
        conditioner_.process(samples + 2 * done, n, conditioned_.data());
        for (std::int32_t f = 0; f < n; ++f) {
            const auto reference = static_cast<float>(conditioned_[2 * f + referenceChannel]);
            const auto bit = static_cast<float>(conditioned_[2 * f + bitChannel]);
            const double t = timeMs_ + (done + f) * framePeriodMs_;
            // The bit channel between the two samples where the reference changes sign: its peak.
            if ((reference < 0.0f) != (previousReference_ < 0.0f)) {
                const float fraction = previousReference_ / (previousReference_ - reference);
                bitAtZero_ = previousBit_ + (bit - previousBit_) * fraction;
                zeroTimeMs_ = t - (1.0 - fraction) * framePeriodMs_;
            }
            // The last sign change before the reference passes the hysteresis is the crossing.
            if (reference > crossingHysteresis && referenceState_ <= 0) {
                if (referenceState_ < 0 && zeroTimeMs_ >= 0.0) crossing(+1, bitAtZero_, zeroTimeMs_);
                referenceState_ = +1;
            } else if (reference < -crossingHysteresis && referenceState_ >= 0) {
                if (referenceState_ > 0 && zeroTimeMs_ >= 0.0) crossing(-1, bitAtZero_, zeroTimeMs_);
                referenceState_ = -1;
            }
            previousReference_ = reference;
            previousBit_ = bit;
        }
        done += n;
    }
    timeMs_ += frames * framePeriodMs_;
    if (lastCrossingMs_ < 0.0 || timeMs_ - lastCrossingMs_ > stoppedAfterMs) {
        speed_ = 0.0f;
        crossingsInDirection_ = 0;
        failures_ = peaksSinceStart_ = 0;  // what comes after a stop or a lift owes nothing to what came before
    }
    if (flywheel_ && !locked_ && timeMs_ - lockLostMs_ > flywheelMs) flywheel_ = false;
    if (timeMs_ - readWindowStartMs_ >= readWindowMs) {
        readsPerSecond_ = readsInWindow_;
        readsInWindow_ = 0;
        readWindowStartMs_ = timeMs_;
    }
    // A lock that holds tells at once, before its first whole second.
    if (locked_ && hitsSinceLock_ >= sureHits) readsPerSecond_ = std::max(readsPerSecond_, readsInWindow_);
    if (lastReadMs_ < 0.0 || timeMs_ - lastReadMs_ > readWindowMs) readsPerSecond_ = 0;
}

void ShiftRegisterDecoder::crossing(int direction, float bitValue, double timeMs) {
    if (bitValue == 0.0f) return;
    const bool positive = bitValue > 0.0f;
    // Played forward, the leading channel is at its positive peak where the other rises
    // through zero, and the lagging one at its negative peak.
    const bool bitLeads = format_->bitChannel == format_->leadingChannel();
    const int turning = direction * (positive ? 1 : -1) * (bitLeads ? 1 : -1);
    followSpeed(turning, timeMs);
    if (positive != format_->positivePeaks) return;
    ++bitPeaks_;
    if (peaksSinceStart_ < settlingPeaks) ++peaksSinceStart_;
    const int bit = learner_(std::fabs(bitValue));
    if (bit != LevelLearner::unsure) ++clearBits_;
    bitPeak(turning, bit, timeMs);
}

void ShiftRegisterDecoder::followSpeed(int direction, double timeMs) {
    const double sinceLast = timeMs - lastCrossingMs_;
    const bool recent = lastCrossingMs_ >= 0.0 && sinceLast <= stoppedAfterMs;
    lastCrossingMs_ = timeMs;
    if (direction != crossingDirection_ || !recent) {
        // A reversal or a start: one half cycle is all this direction has shown yet.
        crossingDirection_ = direction;
        crossingsInDirection_ = 0;
        if (recent && sinceLast > 0.0)
            speed_ = static_cast<float>(direction * halfCycle * msPerSecond / sinceLast / carrierHz_);
    }
    crossingTimes_[static_cast<std::size_t>(crossingsInDirection_ % speedCrossings)] = timeMs;
    ++crossingsInDirection_;
    const int held = std::min(crossingsInDirection_, speedCrossings);
    if (held < 2) return;
    const double oldest = crossingTimes_[static_cast<std::size_t>((crossingsInDirection_ - held) % speedCrossings)];
    if (crossingsInDirection_ > 2 * speedCrossings) crossingsInDirection_ -= speedCrossings;  // keeps the ring's order
    const double span = timeMs - oldest;
    if (span > 0.0) speed_ = static_cast<float>(direction * halfCycle * (held - 1) * msPerSecond / span / carrierHz_);
}

void ShiftRegisterDecoder::bitPeak(int direction, int bit, double timeMs) {
    if (flywheel_) {
        std::uint32_t predicted;
        if (direction > 0) {
            predicted = format_->nextBit(window_);
            window_ = format_->forward(window_);
            cycle_ = ++region_;
        } else {
            // Turning back, the peak crossed is the newest cycle the window holds.
            predicted = window_ >> (format_->bits - 1);
            window_ = format_->backward(window_);
            cycle_ = region_--;
        }
        if (locked_ && bit != LevelLearner::unsure) {
            if (static_cast<std::uint32_t>(bit) == predicted) {
                missScore_ = std::max(0, missScore_ - 1);
                lastReadMs_ = timeMs;
                if (hitsSinceLock_ < sureHits) ++hitsSinceLock_;
                countRead();
            } else if ((missScore_ += missPenalty) >= lostScore) {
                locked_ = false;
                lockLostMs_ = timeMs;
            }
        }
        endOfRecord_ = cycle_ >= static_cast<std::int64_t>(format_->cycles);
        if (!endOfRecord_ && cycle_ >= 0) positionTimeMs_ = timeMs;
        if (!locked_ && timeMs - lockLostMs_ > flywheelMs) flywheel_ = false;
    }
    acquire(direction, bit, timeMs);
}

void ShiftRegisterDecoder::acquire(int direction, int bit, double timeMs) {
    if (direction != searchDirection_) {
        searchDirection_ = direction;
        searchRun_ = 0;
    }
    if (bit == LevelLearner::unsure) {
        searchRun_ = 0;
        return;
    }
    const int n = format_->bits;
    const std::uint32_t before = search_;
    const auto b = static_cast<std::uint32_t>(bit);
    bool follows;
    if (direction > 0) {
        search_ = (before >> 1) | (b << (n - 1));
        follows = format_->nextBit(before) == b;
    } else {
        search_ = ((before << 1) & format_->mask()) | b;
        follows = format_->backward(before) == search_;
    }
    // A bit against the rule starts the window over: every try at a place then rests on bits
    // of its own, and a stream of wrong bits gets a try only every N + 1 peaks or so.
    if (searchRun_ < n) {
        ++searchRun_;
    } else if (follows) {
        searchRun_ = std::min(searchRun_ + 1, searchRunCap);
        if (++followed_ % followsToForgive == 0 && failures_ > 0) --failures_;
    } else {
        searchRun_ = 0;
        // The peaks while the front end and the learner settle after a start, and the first
        // window read from them, break the rule through no fault of the record.
        if (peaksSinceStart_ >= settlingPeaks) failures_ = std::min(failures_ + 1, failuresHeld);
    }
    if (locked_ || searchRun_ < n + confirmBits) return;
    const std::optional<std::uint32_t> found = table_->cycleOf(search_);
    if (!found) return;  // beyond the side: its run-out past the end, or before its start
    std::int64_t cycle = *found;
    std::uint32_t window = search_;
    if (direction > 0) {
        cycle += n - 1;  // the window's newest bit is the one just read
    } else {
        for (int i = 0; i < n; ++i) window = format_->backward(window);
    }
    const bool agrees = flywheel_ && std::fabs(static_cast<double>(cycle - cycle_)) / carrierHz_ <=
                                         PositionGuard::margin(timeMs - lastReadMs_);
    if (!agrees) {
        // Doubt lengthens the run a place elsewhere needs: a lock just lost, and bits that
        // lately kept breaking the rule (a record too worn or noisy to read, another type's),
        // where runs of eight that follow it by chance come often.
        const int doubt = std::min((flywheel_ ? n : 0) + confirmBits * failures_, 2 * n);
        if (searchRun_ < n + confirmBits + doubt) return;
    }
    flywheel_ = locked_ = true;
    missScore_ = 0;
    cycle_ = cycle;
    region_ = direction > 0 ? cycle : cycle - 1;
    window_ = window;
    endOfRecord_ = false;
    positionTimeMs_ = lastReadMs_ = timeMs;
    hitsSinceLock_ = 0;
}

// Only a lock that has held: one taken on wrong bits (a record of another type) falls
// within a couple of dozen peaks, and counts nothing.
void ShiftRegisterDecoder::countRead() {
    if (hitsSinceLock_ >= sureHits) ++readsInWindow_;
}

}  // namespace platora
