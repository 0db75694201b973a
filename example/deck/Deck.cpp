#include "Deck.h"

#include "InputConditioning.h"

#include <chrono>
#include <cmath>

namespace platora {

namespace {

constexpr double msPerSecond = 1000.0;
constexpr double nsPerMs = 1e6;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int16_t lowSixteenBits(float gain)
{
    constexpr float beyondAnyLowBits = 0x1p40f;  // floats this large are multiples of 2^16
    if (!std::isfinite(gain) || std::fabs(gain) >= beyondAnyLowBits) return 0;
    const auto truncated = static_cast<std::int64_t>(gain);  // toward zero
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(truncated));
}

}  // namespace

Deck::Deck(std::int32_t pair) : pair_(pair) {}

void Deck::reset(std::int32_t sampleRate)
{
    decoder_.setDecodingMode(decodingMode);  // the decoder takes a mode cleanly only at a reset
    decoder_.reset(sampleRate);
    position.store(decoder_.getPosition(), std::memory_order_relaxed);
}

void Deck::setVinylType(std::int32_t type)
{
    decoder_.setVinylType(type);
    requestedType.store(type, std::memory_order_relaxed);
}

void Deck::setPreampGain(float gain) { preampGain_.store(lowSixteenBits(gain), std::memory_order_relaxed); }

void Deck::process(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int16_t* stereo)
{
    if (const std::int32_t type = vinylType(); type != decoder_.getVinylType()) decoder_.setVinylType(type);
    conditionPair(captured, frames, channelCount, pair_, preampGain(), riaa(), stereo);
    diagnosis_.measure(stereo, frames);
    scope_.capture(stereo, frames);
    decoder_.processBlock(stereo, 2 * frames);
    double value = decoder_.getPosition();
    const double speed = decoder_.getSpeed();
    // Held while the speed is 0 or unknown, and until a position has been read.
    if (interpolate && std::isfinite(speed) && speed != 0.0 && decoder_.getPositionTime() >= 0.0)
        value += speed * (decoder_.getTime() - decoder_.getPositionTime()) / msPerSecond;
    position.store(static_cast<float>(value), std::memory_order_relaxed);
}

void Deck::holdPosition()
{
    heldPosition.store(getPosition(), std::memory_order_relaxed);
    heldAgeMs.store(decoder_.getPositionAgeMs(), std::memory_order_relaxed);
    heldSinceNs.store(nowNs(), std::memory_order_relaxed);
}

DeckReading Deck::reading(bool inputLost) const
{
    if (inputLost) {
        // No block ages the decoder's position now, so the held one ages by the clock.
        float age = heldAgeMs.load(std::memory_order_relaxed);
        if (age >= 0.0f)
            age += static_cast<float>(static_cast<double>(nowNs() - heldSinceNs.load(std::memory_order_relaxed)) / nsPerMs);
        return {heldPosition.load(std::memory_order_relaxed), 0.0f, 0, 0, age};
    }
    return {getPosition(), getSpeed(), getTimecodesPerSecond(), getLevel(), decoder_.getPositionAgeMs()};
}

}  // namespace platora
