#include "TimecodeDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace platora {

namespace {

constexpr double msPerSecond = 1000.0;
constexpr std::size_t decisionEntries = 4;             // stored peaks a bit decision needs
constexpr std::size_t stepBackMinEntries = 6;
constexpr int speedTerms = SpeedWindow::length;
constexpr std::size_t speedSkippedEntries = 4;
constexpr double tpsWindowMs = 1000.0;
constexpr double stoppedAfterMs = 50.0;     // without a peak: the record no longer turns
constexpr double noFramesAfterMs = 1000.0;  // without a frame: nothing is being decoded
constexpr std::uint32_t mixvibesFrameNumberMask = 0x1FFFF;
constexpr int mixvibesCheckShift = 17;
constexpr std::uint32_t mixvibesCheckMask = 0x1F;
constexpr int mixvibesWordBits = 22;
// Frame intervals without a frame before reckoning starts: late enough that a frame on
// time is never overtaken (on a clean record they come within 1.5 % of their interval),
// early enough that a lost one costs no more than its own frame, which for the shorter
// Mixvibes frame is 4.5 % more than its interval.
constexpr double overdueFrames = 1.03;
constexpr double confirmingFrames = 2.0;  // how long a held frame may wait for its confirmation
// The front end brings the carrier's peaks to its target level, its low half cycles to a
// third of it on the deepest records; what a filter rings on after a stop, or noise, swings
// far less than the carrier's smallest swing, and a hysteresis this high no longer takes it
// for peaks.
constexpr std::int32_t robustHysteresis = static_cast<std::int32_t>(0.25f * SignalConditioner::targetLevel);

void storeRelaxed(std::atomic<float>& field, float value) { field.store(value, std::memory_order_relaxed); }
void storeRelaxed(std::atomic<std::int32_t>& field, std::int32_t value) {
    field.store(value, std::memory_order_relaxed);
}
void storeRelaxed(std::atomic<std::int64_t>& field, std::int64_t value) {
    field.store(value, std::memory_order_relaxed);
}

}  // namespace

TimecodeDecoder::TimecodeDecoder() {
    for (int ch = 0; ch < 2; ++ch) {
        trough[ch].channel = static_cast<std::int16_t>(ch);
        crest[ch].channel = static_cast<std::int16_t>(ch);
    }
    setVinylType(FinalScratch);
}

void TimecodeDecoder::reset(std::int32_t rate, const Settings& settings) {
    mode = settings.mode;
    codeTable = settings.table;
    setCalibration(settings.calibration.value_or(vinylFormat(settings.format).defaultCalibration));
    setVinylType(settings.format);
    reset(rate);
}

void TimecodeDecoder::reset(std::int32_t rate) {
    sampleRate = rate;
    timeBase = 0.0;
    channelState[0] = channelState[1] = 0;
    history.clear();
    validBitCount = 0;
    peaksSinceDoubt = 0;
    speedWindow.clear();
    unpublishedSpeedTerms = 0;
    peakCount = 0;
    frameReadSinceReset = false;
    setPosition(0.0);
    positionTime = -1.0;
    publish(1.0f);
    robust.conditioner.reset(format->carrierHz, rate, format->leadingChannel);
    robust.guard.reset(format->frameSeconds());
    swingHysteresis = mode == DecodingMode::robust ? robustHysteresis : hysteresis;
    robust.reckoning.reset(format->stepSeconds());
    for (SmearCanceller& s : robust.smear) s.reset(SignalConditioner::targetLevel);
    termsSinceStop = speedTerms;
    storeRelaxed(positionAgeMs_, -1.0f);
    storeRelaxed(depth_, 0.0f);
    shiftRegister.reset(rate);
    for (int ch = 0; ch < 2; ++ch) {
        for (Peak* record : {&trough[ch], &crest[ch]}) {
            record->value = 0;
            record->bit = Peak::noBit;
            record->channel = static_cast<std::int16_t>(ch);
        }
    }
}

// A value that names no format is stored and decodes nothing; the frame rules' timing is then Mixvibes'.
void TimecodeDecoder::setVinylType(VinylType type) {
    vinylType_ = type;
    format = &vinylFormat(type);
    frameFormat = format->type == type && format->windowPeaks > 0;
    if (frameFormat) frameLength = format->windowPeaks;
    speedFactor = static_cast<float>(peaksPerCycle * format->carrierHz / (2.0 * msPerSecond));
    shiftRegister.setFormat(type);
    robust.conditioner.reset(format->carrierHz, sampleRate, format->leadingChannel);
    robust.guard.reset(format->frameSeconds());
    robust.reckoning.reset(format->stepSeconds());
}

void TimecodeDecoder::setCalibration(float value) {
    storeRelaxed(calibrationValue, value);
    storeRelaxed(tpsWindowStart, 0);
    storeRelaxed(timecodesPerSecond, 0);
    storeRelaxed(framesInWindow, 0);
}

bool TimecodeDecoder::processBlock(const std::int16_t* samples, std::int32_t count) {
    positionUpdated = false;
    if (count < 0) count = 0;
    if (shiftRegister.active()) return processShiftRegister(samples, count);
    if (mode == DecodingMode::robust) {
        conditionAndTrack(samples, count);
    } else {
        trackSamples(samples, count);
    }
    publishSpeed(0);
    storeRelaxed(level, largestMagnitude(samples, count));
    applyStopRule();
    if (mode == DecodingMode::robust) {
        reckon();
        publishDepth();
    }
    storeRelaxed(positionAgeMs_, frameReadSinceReset ? static_cast<float>(timeBase - lastFrameTime) : -1.0f);
    return positionUpdated;
}

void TimecodeDecoder::trackSamples(const std::int16_t* samples, std::int32_t count) {
    const double framePeriodMs = sampleRate > 0 ? msPerSecond / sampleRate : 0.0;
    const std::int32_t frames = count / 2;
    Extremes first = beginTracking(0);
    Extremes second = beginTracking(1);
    // Channel 0 then channel 1 of each frame: peaks reach the history in sample order.
    for (std::int32_t f = 0; f < frames; ++f) {
        trackSample(0, first, samples[2 * f], f, framePeriodMs);
        trackSample(1, second, samples[2 * f + 1], f, framePeriodMs);
    }
    if (count % 2 == 1) trackSample(0, first, samples[count - 1], frames, framePeriodMs);
    endTracking(0, first, framePeriodMs);
    endTracking(1, second, framePeriodMs);
    timeBase += framePeriodMs * frames;
}

// A lone last sample has no partner to be filtered with and is left out.
void TimecodeDecoder::conditionAndTrack(const std::int16_t* samples, std::int32_t count) {
    const std::int32_t frames = count / 2;
    for (std::int32_t done = 0; done < frames;) {
        const std::int32_t n = std::min(frames - done, SignalConditioner::chunkFrames);
        // Until a frame shows how the record turns it is taken to play at its nominal speed:
        // a late channel can order its first peaks as if it turned back, and the lateness
        // learnt the wrong way round would keep them so.
        robust.conditioner.followSpeed(frameReadSinceReset ? currentSpeed() : 1.0f);
        robust.conditioner.process(samples + 2 * done, n, robust.conditioned.data());
        trackSamples(robust.conditioned.data(), 2 * n);
        done += n;
    }
}

std::int32_t TimecodeDecoder::largestMagnitude(const std::int16_t* samples, std::int32_t count) {
    // In 16 bits, so that the loop runs on many samples at once; -32768 gives 32768 below.
    std::int16_t highest = 0;
    std::int16_t lowest = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        highest = samples[i] > highest ? samples[i] : highest;
        lowest = samples[i] < lowest ? samples[i] : lowest;
    }
    return std::max<std::int32_t>(highest, -static_cast<std::int32_t>(lowest));
}

TimecodeDecoder::Extremes TimecodeDecoder::beginTracking(int ch) const {
    return {channelState[ch], trough[ch].value, crest[ch].value, noFrame, noFrame};
}

void TimecodeDecoder::endTracking(int ch, const Extremes& extremes, double framePeriodMs) {
    channelState[ch] = extremes.state;
    trough[ch].value = static_cast<std::int16_t>(extremes.low);
    crest[ch].value = static_cast<std::int16_t>(extremes.high);
    if (extremes.lowFrame != noFrame) trough[ch].time = timeOf(extremes.lowFrame, framePeriodMs);
    if (extremes.highFrame != noFrame) crest[ch].time = timeOf(extremes.highFrame, framePeriodMs);
}

double TimecodeDecoder::timeOf(std::int32_t frame, double framePeriodMs) const {
    return framePeriodMs * frame + timeBase;
}

inline void TimecodeDecoder::trackSample(int ch, Extremes& e, std::int32_t s, std::int32_t frame,
                                         double framePeriodMs) {
    // How far the signal has come back from the extreme the channel is heading for. The
    // hand-off comes before tracking: the switching sample is never the extremum handed on.
    const std::int32_t comeBack = e.state < 0 ? s - e.low : e.high - s;
    if (comeBack > swingHysteresis && e.state != 0) {
        if (e.state < 0) {
            handOff(trough[ch], Peak::trough, e.low, e.lowFrame, framePeriodMs);
            e.lowFrame = noFrame;
            e.state = +1;
        } else {
            handOff(crest[ch], Peak::crest, e.high, e.highFrame, framePeriodMs);
            e.highFrame = noFrame;
            e.state = -1;
        }
        e.high = e.low = s;  // both values to the switching sample; both times stand
    } else if (e.state == 0) {
        e.state = s < 0 ? -1 : s > 0 ? +1 : 0;
    }
    // Strict: on a flat extremum the earliest sample keeps the time. Written as selections,
    // which compile without branches: which sample is a new extreme follows the signal.
    const bool lower = s < e.low;
    const bool higher = s > e.high;
    e.lowFrame = lower ? frame : e.lowFrame;
    e.low = lower ? s : e.low;
    e.highFrame = higher ? frame : e.highFrame;
    e.high = higher ? s : e.high;
}

void TimecodeDecoder::handOff(Peak& record, std::int32_t kind, std::int32_t value, std::int32_t frame,
                              double framePeriodMs) {
    record.kind = kind;
    if (mode == DecodingMode::robust) {
        SmearCanceller& levels = robust.smear[record.channel];
        value = levels(value);
        record.bit = levels.high() ? 1 : 0;
        record.doubtful = !levels.sure();
    }
    record.value = static_cast<std::int16_t>(value);
    if (frame != noFrame) record.time = timeOf(frame, framePeriodMs);
    insertPeak(record);
}

void TimecodeDecoder::insertPeak(Peak& peak) {
    if (mode == DecodingMode::robust) {
        countLevelBit(peak);
    } else if (history.size() >= decisionEntries) {
        decideBitBySwing(peak);
    }
    storePeak(peak);
    ++peakCount;
    // One writer: a plain increment, no read-modify-write.
    peaksSeen_.store(peaksSeen_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    decodeFrame();
}

// Robust: the peak's level gave its bit as it was handed on.
void TimecodeDecoder::countLevelBit(const Peak& peak) {
    countValidBit();
    if (peak.doubtful) {
        peaksSinceDoubt = 0;
    } else if (peaksSinceDoubt < frameLength) {
        ++peaksSinceDoubt;  // a whole window without doubt is all that is asked
    }
}

// Faithful: the bit from how the swing to this peak compares with the one before.
void TimecodeDecoder::decideBitBySwing(Peak& peak) {
    // E2 is the previous peak of this channel, E4 the one of the same kind before it.
    const Peak& e2 = history[1];
    const Peak& e4 = history[3];
    const std::int32_t previousSwing = std::abs(e2.value - e4.value);
    const std::int32_t currentSwing = std::abs(e2.value - peak.value);
    const double limit = calibrationValue.load(std::memory_order_relaxed);
    if (swingIsSteady(previousSwing, currentSwing, limit)) {
        if (e4.bit != Peak::noBit) {
            peak.bit = e4.bit;
            countValidBit();
        }
        return;
    }
    const bool larger = e2.kind == Peak::crest ? e4.value > peak.value : e4.value <= peak.value;
    peak.bit = larger ? 1 : 0;
    if (peak.bit == e4.bit) {
        peak.bit = Peak::noBit;
        validBitCount = 0;
    } else {
        countValidBit();
    }
}

// Steady when previous / current < limit and 1 / (previous / current) < limit, rounded as
// in double. Swings are below 2^17 and the limit is a float, so their products are exact
// and decide the same without dividing, except where current / previous equals the limit:
// there the rounded reciprocal may fall either side, so it is formed by dividing, as the faithful
// rules (and the recordings compared against them) do.
// Zero swings and a NaN limit are never steady either way.
bool TimecodeDecoder::swingIsSteady(std::int32_t previousSwing, std::int32_t currentSwing, double limit) {
    if (currentSwing == limit * previousSwing) {
        const double ratio = static_cast<double>(previousSwing) / currentSwing;
        return ratio < limit && 1.0 / ratio < limit;
    }
    return previousSwing < limit * currentSwing && currentSwing < limit * previousSwing;
}

void TimecodeDecoder::storePeak(const Peak& peak) {
    history.insert(peak, 2u * frameLength);
    const double term = speedTerm();
    speedWindow.push(term);
    if (termsSinceStop < speedTerms) ++termsSinceStop;
    robust.reckoning.peakStored(term);
}

void TimecodeDecoder::countValidBit() {
    peaksWithBits_.store(peaksWithBits_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (validBitCount < std::numeric_limits<std::int32_t>::max()) ++validBitCount;
}

void TimecodeDecoder::decodeFrame() {
    if (validBitCount < frameLength) {
        publishSpeed(1);  // an estimate made at the previous peak, before the window moved on
    } else if (estimateSpeed()) {
        if (history[0].channel != 0) return;
        double newPosition = 0.0;
        if (readFrame(newPosition)) {
            if (mode == DecodingMode::faithful || admitFrame(newPosition)) frameRead(newPosition);
            return;
        }
    }
    // A channel running a little late can order a forward record's peaks as if it turned
    // back; robust steps back only when the speed says it does, and only from a place a
    // frame gave.
    if (mode == DecodingMode::robust && (!frameReadSinceReset || !turnsBack())) return;
    stepBack();
}

bool TimecodeDecoder::turnsBack() const {
    if (termsSinceStop < speedTerms) return termsSinceStop > 0 && speedWindow.estimate(termsSinceStop, 0) < 0.0f;
    return speedWindow.sign() == SpeedWindow::Sign::negative;
}

bool TimecodeDecoder::windowBit(int position) const { return history[frameLength - 1 - position].bit == 1; }

bool TimecodeDecoder::readFrame(double& newPosition) {
    if (history.size() < frameLength) return false;
    if (vinylType_ == Mixvibes) {
        if (windowBit(0) || windowBit(2) || windowBit(4) || windowBit(6)) return false;
        std::uint32_t word = 0;
        for (int k = 0; k < mixvibesWordBits; ++k) {
            if (windowBit(5 + 4 * k)) word |= 1u << k;
        }
        if ((((word >> mixvibesCheckShift) ^ word) & mixvibesCheckMask) != 0) return false;
        newPosition = (word & mixvibesFrameNumberMask) * format->frameSeconds();
        return true;
    }
    if (vinylType_ == FinalScratch) {
        if (!windowBit(0) || !windowBit(2) || !windowBit(4) || windowBit(6)) return false;
        std::uint32_t code = 0;
        for (int j = 0; j < 16; ++j) {
            if (windowBit(2 * j)) code |= 1u << (31 - j);
            if (windowBit(2 * j + 1)) code |= 1u << (15 - j);
        }
        if (frameSyncObserver != nullptr) frameSyncObserver->frameSync(code, peakCount);
        if (codeTable == nullptr || sampleRate == 0) return false;
        const std::optional<std::uint32_t> value = codeTable->lookup(code);
        if (!value) {
            framesNotInTable_.store(framesNotInTable_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
            return false;
        }
        newPosition = static_cast<double>(*value) / sampleRate;
        return true;
    }
    return false;
}

bool TimecodeDecoder::admitFrame(double newPosition) {
    const double t = history[0].time;
    const double v = reckoningSpeed();
    const double expected = reckonedPosition(t, v);
    const bool sure = peaksSinceDoubt >= frameLength;
    const PositionGuard::Verdict verdict =
        robust.guard.admit(newPosition, t, frameReadSinceReset, expected, t - lastFrameTime, v, sure);
    if (verdict == PositionGuard::Verdict::held) return false;
    robust.reckoning.frameTaken(newPosition, t, verdict == PositionGuard::Verdict::jumps);
    return true;
}

double TimecodeDecoder::reckoningSpeed() { return robust.reckoning.speed(currentSpeed(), timeBase); }

double TimecodeDecoder::reckonedPosition(double timeMs, double v) const {
    return robust.reckoning.position(exactPosition, positionTime, timeMs, v);
}

// Moves the position on by the speed once a frame is overdue on a record that plays
// forward; backwards the step-backs move it, and a stopped record stays where it is.
void TimecodeDecoder::reckon() {
    if (!frameReadSinceReset || !robust.reckoning.fromFrame() || !(currentSpeed() > 0.0f)) return;
    const double v = reckoningSpeed();
    if (!(v > 0.0)) return;
    const double frameMs = format->frameSeconds() * msPerSecond / v;
    if (timeBase - lastFrameTime <= overdueFrames * frameMs) return;
    // A frame elsewhere waits for the next to confirm it: the record may have jumped, and
    // carrying on where it was would send a place it never reached.
    if (robust.guard.holding() && timeBase - robust.guard.heldTimeMs() <= confirmingFrames * frameMs) return;
    setPosition(reckonedPosition(timeBase, v));
    positionTime = timeBase;
    positionUpdated = true;
}

void TimecodeDecoder::frameRead(double newPosition) {
    setPosition(newPosition);
    const std::int32_t frames = framesInWindow.load(std::memory_order_relaxed) + 1;
    storeRelaxed(framesInWindow, frames);
    positionUpdated = true;
    const double t = history[0].time;
    frameReadSinceReset = true;
    robust.reckoning.frameRead(newPosition);
    lastFrameTime = t;
    positionTime = t;
    if (std::fabs(t - static_cast<double>(tpsWindowStart.load(std::memory_order_relaxed))) > tpsWindowMs) {
        storeRelaxed(timecodesPerSecond, frames);
        storeRelaxed(tpsWindowStart, static_cast<std::int64_t>(t));
        storeRelaxed(framesInWindow, 0);
    }
}

void TimecodeDecoder::stepBack() {
    if (history.size() < stepBackMinEntries) return;
    // The peak just stored takes no part; A and B show which channel leads.
    const Peak& a = history[1];
    const Peak& b = history[2];
    const bool sameKind = a.kind == b.kind;
    const bool backwards = frameFormat && (a.channel == format->leadingChannel) == sameKind;
    if (!backwards) return;
    setPosition(exactPosition - format->stepSeconds());
    robust.reckoning.stepBack();
    positionTime = history[0].time;
    positionUpdated = true;
}

// Once a frame has been read the levels are the record's, not the guess they started from.
void TimecodeDecoder::publishDepth() {
    float value = 0.0f;
    if (frameReadSinceReset) value = (robust.smear[0].split().depth() + robust.smear[1].split().depth()) / 2.0f;
    storeRelaxed(depth_, value);
}

// Without it a stopped hand or a dead input would read as a record still playing.
void TimecodeDecoder::applyStopRule() {
    if (history.size() == 0 || timeBase - history[0].time > stoppedAfterMs) {
        publish(0.0f);
        // The speed and direction the record takes next are its own, not the ones it
        // stopped from: robust starts them from the peaks that follow.
        if (mode == DecodingMode::robust) termsSinceStop = 0;
    }
    if (!frameReadSinceReset || timeBase - lastFrameTime > noFramesAfterMs) {
        storeRelaxed(timecodesPerSecond, 0);
        storeRelaxed(framesInWindow, 0);
    }
}

void TimecodeDecoder::setPosition(double value) {
    exactPosition = value;
    storeRelaxed(position, static_cast<float>(value));
}

// The term of the newest three stored peaks: X the newest, Z the oldest.
double TimecodeDecoder::speedTerm() const {
    if (history.size() < 3) return 0.0;
    const Peak& x = history[0];
    const Peak& y = history[1];
    const Peak& z = history[2];
    const double magnitude = (x.time - z.time) * speedFactor;
    // Looks at the pair whose older peak is on the type's forward-leading channel.
    const bool forward = z.channel == format->leadingChannel ? y.kind == z.kind : x.kind == y.kind;
    return forward ? magnitude : -magnitude;
}

// Returns whether the estimate is positive; a NaN estimate is not, and decodes nothing.
// Only the sign is needed at every peak: publishSpeed stores the estimate once it can be
// seen, at the end of the block or when the window moves on without an estimate.
bool TimecodeDecoder::estimateSpeed() {
    const int n = std::min(
        {static_cast<int>(history.size()) - static_cast<int>(speedSkippedEntries), speedTerms, termsSinceStop});
    if (n <= 0) {  // no terms: the last estimate stands
        publishSpeed(1);
        return speed.get() > 0.0f;
    }
    unpublishedSpeedTerms = n;
    const SpeedWindow::Sign sign = n == speedTerms ? speedWindow.sign() : SpeedWindow::Sign::unsure;
    if (sign != SpeedWindow::Sign::unsure) return sign == SpeedWindow::Sign::positive;
    // In doubt the float sum itself decides.
    const float value = speedWindow.estimate(n, 0);
    publish(value);
    unpublishedSpeedTerms = 0;
    return value > 0.0f;
}

void TimecodeDecoder::publish(float value) {
    speed.set(value);
    currentSpeed_ = value;
    currentSpeedStale = false;
}

// The published speed as the robust stages use it: forming the published sum costs a
// chain of additions, so the fixed-point sum stands in for it whenever it can.
float TimecodeDecoder::currentSpeed() {
    if (currentSpeedStale) {
        currentSpeed_ = speed.get();
        currentSpeedStale = false;
    }
    return currentSpeed_;
}

// age: pushes since the estimate was made.
void TimecodeDecoder::publishSpeed(int age) {
    if (unpublishedSpeedTerms == 0) return;
    if (age == 0) {
        speed.set(speedWindow, unpublishedSpeedTerms);  // readers form the sum
        const bool quick =
            unpublishedSpeedTerms == SpeedWindow::length && speedWindow.sign() != SpeedWindow::Sign::unsure;
        if (quick) currentSpeed_ = speedWindow.quickEstimate();
        currentSpeedStale = !quick;
    } else {
        publish(speedWindow.estimate(unpublishedSpeedTerms, age));
    }
    unpublishedSpeedTerms = 0;
}

}  // namespace platora
