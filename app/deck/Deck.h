#pragma once

#include "SignalDiagnosis.h"
#include "TimecodeDecoder.h"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace platora {

// What a deck reads off its record at one moment.
struct DeckReading {
    float position;  // s
    float speed;     // 1.0 is nominal, negative backwards
    std::int32_t timecodesPerSecond;
    std::int32_t level;  // the larger swing of the pair, in 16-bit sample units
    float ageMs;         // since a frame last set the position; negative before the first frame
    // When the last frame of the block the position comes from was at the input; the
    // reading's own moment while the position is held.
    std::chrono::steady_clock::time_point capturedAt;
};

// One turntable: a channel pair of the stream, the conditioning of that pair and its
// decoder. The dialogue streams one deck, stage mode several.
//
// Threads: process runs on the audio thread. Pair, decoding and interpolation are set on the
// main thread while no stream runs; gain, RIAA and calibration at any time.
// The getters are relaxed atomics: any thread, values may mix blocks.
class Deck {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deck(std::int32_t pair = 0);
    Deck(const Deck&) = delete;
    Deck& operator=(const Deck&) = delete;

    std::int32_t pair() const { return pair_; }
    // Pair n is channels 2n+1 and 2n+2, so the stream needs 2n+2 channels.
    std::int32_t channelsNeeded() const { return 2 * pair_ + 2; }
    void setPair(std::int32_t pair) { pair_ = pair; }

    // Main thread, while no stream runs: the decoder starts over; the published position
    // stays where it was until the new stream reads a frame.
    void reset(std::int32_t sampleRate);
    TimecodeDecoder& decoder() { return decoder_; }
    const TimecodeDecoder& decoder() const { return decoder_; }
    // Main thread, while no stream runs: the type and calibration from now, the rest at the
    // next reset (faithful FinalScratch without a table until set). The table must outlive
    // the deck's streams.
    void setDecoding(const TimecodeDecoder::Settings& settings);
    // Any thread, while a stream runs: the decoder takes the type before its next block. A
    // shift-register type's position table is built here first, not on the audio thread.
    void requestVinylType(VinylType type) {
        PositionTable::of(type);
        requestedType.store(type, std::memory_order_relaxed);
    }
    VinylType vinylType() const { return requestedType.load(std::memory_order_relaxed); }
    void setCalibration(float value) { decoder_.setCalibration(value); }
    // Truncated toward zero; the low 16 bits are kept.
    void setPreampGain(float gain);
    void setRiaaEnabled(bool on) { riaaEnabled.store(on, std::memory_order_relaxed); }
    std::int16_t preampGain() const { return preampGain_.load(std::memory_order_relaxed); }
    bool riaa() const { return riaaEnabled.load(std::memory_order_relaxed); }
    // Off: getPosition is exactly the decoder's. On: the position of the last change
    // advanced by the speed up to the end of the block just decoded, and a reading's
    // position further on by the speed from when that block's last frame was captured to
    // the reading's moment.
    void setInterpolation(bool on) { interpolate = on; }

    // Main thread, when the input is lost: keeps the position the lost readings give, and
    // the next stream until it reads a frame; its age goes on from lastBlock, when the stream
    // was last seen delivering.
    void holdPosition(Clock::time_point lastBlock);
    // inputLost, or no block decoded since the stream (re)started: speed, timecodes per
    // second and level 0, the position held (0 before any). A speed no turntable reaches, or
    // one that is not finite, reads 0 (see speedRefused). A held position ages by the clock
    // until a frame of the new stream sets the position. Any thread.
    DeckReading reading(bool inputLost, Clock::time_point now = Clock::now()) const;
    // Main thread: while on, readings carry the position held, speed and timecodes per second 0
    // and the level measured, as a deck that has read nothing yet should, whatever the decoder
    // reads: for a type in doubt, whose speed and position would mislead a host. Turning it on
    // holds the position shown then, aging by the clock.
    void withhold(bool on);
    // Whether the last reading refused the decoder's speed; any thread.
    bool speedRefused() const { return speedWasRefused.load(std::memory_order_relaxed); }

    // Audio thread: conditions this deck's pair of `frames` frames of `channelCount`
    // channels into `stereo` (2 x frames samples) and decodes it. capturedAt: when the
    // block's last frame was at the input.
    void process(const std::int16_t* captured, std::int32_t frames, std::int32_t channelCount, std::int16_t* stereo,
                 Clock::time_point capturedAt = Clock::now());

    float getPosition() const { return position.load(std::memory_order_relaxed); }
    float getSpeed() const { return decoder_.getSpeed(); }
    std::int32_t getTimecodesPerSecond() const { return decoder_.getTimecodesPerSecond(); }
    std::int32_t getLevel() const { return decoder_.getLevel(); }
    const SignalDiagnosis& diagnosis() const { return diagnosis_; }
    const ScopeTap& scope() const { return scope_; }

private:
    bool withheld() const { return withholding.load(std::memory_order_relaxed); }
    void holdShownPosition(Clock::time_point lastBlock);
    float heldAge(Clock::time_point now) const;

    TimecodeDecoder decoder_;
    std::int32_t pair_;
    bool interpolate = false;
    TimecodeDecoder::Settings decoding;
    std::atomic<std::int16_t> preampGain_{1};
    std::atomic<bool> riaaEnabled{false};
    std::atomic<float> position{0.0f};
    // The position of the last block and when its last frame was captured (microseconds of
    // the steady clock, modulo 2^32) in one word: a reader never pairs one block's position
    // with another's time.
    std::atomic<std::uint64_t> positionCaptured{0};
    std::atomic<float> heldPosition{0.0f};
    std::atomic<float> heldAgeMs{-1.0f};   // negative: no frame ever set the held position
    std::atomic<Clock::rep> heldSince{0};  // when the held position was heldAgeMs old
    std::atomic<bool> showsHeld{true};     // the published position is the held one, not the decoder's
    std::atomic<bool> withholding{false};  // set by withhold
    bool heldAtLoss = false;               // main thread: holdPosition came after the last reset
    std::atomic<VinylType> requestedType{FinalScratch};
    SignalDiagnosis diagnosis_;
    ScopeTap scope_;
    std::atomic<bool> blockDecoded{false};  // since the last reset
    mutable std::atomic<bool> speedWasRefused{false};

    static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
};

}  // namespace platora
