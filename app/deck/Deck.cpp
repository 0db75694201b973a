#include "Deck.h"

#include "InputConditioning.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

namespace platora {

namespace {

constexpr double msPerSecond = 1000.0;
// Ten times nominal either way: beyond any turntable, so only a misread (a clipped signal)
// gives it, and a host would jump with it.
constexpr double largestSpeed = 10.0;
// A reading this long after its block was captured belongs to an input about to count as
// lost: its position goes no further.
constexpr auto longestAdvance = std::chrono::milliseconds(250);
constexpr int positionBits = 32;

std::uint32_t microsecondsOf(Deck::Clock::time_point time) {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count());
}

std::int16_t lowSixteenBits(float gain) {
    constexpr float beyondAnyLowBits = 0x1p40f;  // floats this large are multiples of 2^16
    if (!std::isfinite(gain) || std::fabs(gain) >= beyondAnyLowBits) return 0;
    const auto truncated = static_cast<std::int64_t>(gain);  // toward zero
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(truncated));
}

}  // namespace

Deck::Deck(std::int32_t pair) : pair_(pair) {}

void Deck::reset(std::int32_t sampleRate) {
    // A stream that was lost stays held as it was then; one that stopped is held from now.
    if (!heldAtLoss) holdShownPosition(Clock::now());
    heldAtLoss = false;
    showsHeld.store(true, std::memory_order_relaxed);
    // The type and calibration may have changed while the last stream ran.
    TimecodeDecoder::Settings settings = decoding;
    settings.format = vinylType();
    settings.calibration = decoder_.calibration();
    decoder_.reset(sampleRate, settings);
    blockDecoded.store(false, std::memory_order_release);
}

void Deck::setDecoding(const TimecodeDecoder::Settings& settings) {
    decoding = settings;
    requestedType.store(settings.format, std::memory_order_relaxed);
    decoder_.setVinylType(settings.format);
    decoder_.setCalibration(settings.calibration.value_or(vinylFormat(settings.format).defaultCalibration));
}

void Deck::setPreampGain(float gain) { preampGain_.store(lowSixteenBits(gain), std::memory_order_relaxed); }

void Deck::process(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int16_t* stereo,
                   Clock::time_point capturedAt) {
    if (const VinylType type = vinylType(); type != decoder_.vinylType()) decoder_.setVinylType(type);
    conditionPair(captured, frames, channelCount, pair_, preampGain(), riaa(), stereo);
    diagnosis_.measure(stereo, frames);
    scope_.capture(stereo, frames);
    decoder_.processBlock(stereo, 2 * frames);
    blockDecoded.store(true, std::memory_order_release);
    // Until this stream reads a frame the decoder's position is its reset value, not the record's.
    if (decoder_.positionTimeMs() < 0.0) {
        showsHeld.store(true, std::memory_order_relaxed);
        position.store(heldPosition.load(std::memory_order_relaxed), std::memory_order_relaxed);
        return;
    }
    double value = decoder_.getPosition();
    const double speed = decoder_.getSpeed();
    // Held while the speed is 0 or unknown.
    if (interpolate && std::isfinite(speed) && speed != 0.0)
        value += speed * (decoder_.timeMs() - decoder_.positionTimeMs()) / msPerSecond;
    position.store(static_cast<float>(value), std::memory_order_relaxed);
    positionCaptured.store(
        (std::uint64_t{std::bit_cast<std::uint32_t>(static_cast<float>(value))} << positionBits) |
            microsecondsOf(capturedAt),
        std::memory_order_relaxed);
    // After the word: a reader that sees the decoder's position shown finds it there.
    showsHeld.store(false, std::memory_order_release);
}

void Deck::holdPosition(Clock::time_point lastBlock) {
    holdShownPosition(lastBlock);
    // The stream may run on (on silence, its source gone) and move the decoder's position.
    heldAtLoss = true;
}

void Deck::withhold(bool on) {
    if (on == withheld()) return;
    // The held position before the flag: a reading that sees the flag reads the position held now.
    if (on) holdShownPosition(Clock::now());
    withholding.store(on, std::memory_order_release);
}

void Deck::holdShownPosition(Clock::time_point lastBlock) {
    // Shown held already (no frame since the stream began, or withheld), it keeps its age from then.
    if (showsHeld.load(std::memory_order_relaxed) || withheld()) return;
    heldPosition.store(getPosition(), std::memory_order_relaxed);
    heldAgeMs.store(decoder_.positionAgeMs(), std::memory_order_relaxed);
    heldSince.store(lastBlock.time_since_epoch().count(), std::memory_order_relaxed);
}

float Deck::heldAge(Clock::time_point now) const {
    const float age = heldAgeMs.load(std::memory_order_relaxed);
    if (age < 0.0f) return age;
    const Clock::time_point since{Clock::duration{heldSince.load(std::memory_order_relaxed)}};
    return age + std::chrono::duration<float, std::milli>(now - since).count();
}

DeckReading Deck::reading(bool inputLost, Clock::time_point now) const {
    if (inputLost || !blockDecoded.load(std::memory_order_acquire)) {
        speedWasRefused.store(false, std::memory_order_relaxed);
        return {heldPosition.load(std::memory_order_relaxed), 0.0f, 0, 0, heldAge(now), now};
    }
    if (withholding.load(std::memory_order_acquire)) {
        speedWasRefused.store(false, std::memory_order_relaxed);
        return {heldPosition.load(std::memory_order_relaxed), 0.0f, 0, getLevel(), heldAge(now), now};
    }
    const float speed = getSpeed();
    // Written so that NaN is refused too.
    const bool possible = std::fabs(speed) <= largestSpeed;
    speedWasRefused.store(!possible, std::memory_order_relaxed);
    const bool held = showsHeld.load(std::memory_order_acquire);
    const float age = held ? heldAge(now) : decoder_.positionAgeMs();
    if (held) return {getPosition(), possible ? speed : 0.0f, getTimecodesPerSecond(), getLevel(), age, now};
    const std::uint64_t word = positionCaptured.load(std::memory_order_relaxed);
    // Modulo 2^32 on both sides: the difference is right for half an hour either way.
    const auto sinceCaptured = std::chrono::microseconds(
        static_cast<std::int32_t>(microsecondsOf(now) - static_cast<std::uint32_t>(word)));
    auto shown = std::bit_cast<float>(static_cast<std::uint32_t>(word >> positionBits));
    if (interpolate && possible && speed != 0.0f) {
        const auto advance = std::clamp<std::chrono::microseconds>(sinceCaptured, {}, longestAdvance);
        shown = static_cast<float>(shown + static_cast<double>(speed) * std::chrono::duration<double>(advance).count());
    }
    return {shown, possible ? speed : 0.0f, getTimecodesPerSecond(), getLevel(), age, now - sinceCaptured};
}

}  // namespace platora
