#pragma once

#include "DeadReckoning.h"
#include "DecodingMode.h"
#include "FinalScratchCodeTable.h"
#include "Peak.h"
#include "PeakHistory.h"
#include "PositionGuard.h"
#include "PublishedSpeed.h"
#include "ShiftRegisterDecoder.h"
#include "SignalConditioner.h"
#include "SmearCanceller.h"
#include "SpeedWindow.h"
#include "VinylType.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace platora {

// Sees every FinalScratch frame whose sync bits match, whether or not its code is in the
// table: what a learner of the table needs. Called on the decoding thread inside
// processBlock, so it must not allocate, lock or block.
class FrameSyncObserver {
public:
    virtual ~FrameSyncObserver() = default;
    // peak: peaks handed on since reset, this frame's newest included; frames that follow
    // each other on the record lie 32 apart.
    virtual void frameSync(std::uint32_t code, std::uint64_t peak) = 0;
};

// Turns blocks of interleaved 16-bit stereo timecode samples into position, speed,
// timecodes per second and level.
//
// Modes: faithful applies the rules below exactly, its bits decided by the calibration
// value (the most a swing may differ from the one before and still carry the same bit).
// Robust runs the same rules on the signal as a SignalConditioner leaves it, decides each
// bit against the two levels its channel's peaks take (SmearCanceller, LevelSplit) and so
// ignores the calibration value, takes a frame only as a PositionGuard allows, and while
// frames are lost on a record that plays forward moves the position on by the speed
// (DeadReckoning); the position's age says how long ago a frame last set it.
//
// Threads: processBlock runs on the audio thread, one block at a time. The getters and
// setCalibration may be called from another thread at any time; those values are
// relaxed atomics, so a reader may see values from different blocks (the speed is
// published whole, and getSpeed forms its last sum itself). reset and setVinylType only
// while no block is being processed.
// Nothing here allocates, locks, blocks, reports or throws.
class TimecodeDecoder {
public:
    static constexpr std::int32_t hysteresis = 2000;  // sample units

    // What a decoder decodes, and how. Until the first reset with settings a decoder reads
    // FinalScratch faithfully at calibration 0, without a table.
    struct Settings {
        // Written in the order of importance, so that a set-up names only what it needs.
        Settings(VinylType format = FinalScratch, DecodingMode mode = DecodingMode::faithful,
                 std::optional<float> calibration = std::nullopt, const FinalScratchCodeTable* table = nullptr)
            : format(format), mode(mode), calibration(calibration), table(table) {}

        VinylType format;
        DecodingMode mode;
        std::optional<float> calibration;  // unset: the format's default
        // nullptr: FinalScratch finds no position. The table must outlive the decoder's use of it.
        const FinalScratchCodeTable* table;
    };

    TimecodeDecoder();

    // Starts over with these settings: the one way to set a decoder up.
    void reset(std::int32_t sampleRate, const Settings& settings);
    // Starts over with the settings it has.
    void reset(std::int32_t sampleRate);
    // Between blocks: the record changed type; mode, table and calibration stay.
    void setVinylType(VinylType type);
    DecodingMode decodingMode() const { return mode; }
    void setCalibration(float value);
    // nullptr (the default) for none; the observer must outlive the decoder's use of it.
    void setFrameSyncObserver(FrameSyncObserver* observer) { frameSyncObserver = observer; }

    // count = samples of both channels together; even indexes are channel 0.
    // Returns whether the position changed during the block.
    bool processBlock(const std::int16_t* samples, std::int32_t count);

    // After each block: speed is 0 once no peak came in the last 50 ms, and timecodes per
    // second 0 once no frame was read in the last second (a stopped record, a dead input).
    float getSpeed() const { return speed.get(); }
    float getPosition() const { return position.load(std::memory_order_relaxed); }
    std::int32_t getTimecodesPerSecond() const { return timecodesPerSecond.load(std::memory_order_relaxed); }
    std::int32_t getLevel() const { return level.load(std::memory_order_relaxed); }
    // ms since a frame last set the position, at the end of the last block; -1 before the
    // first frame since reset. Dead reckoning, step-backs and holding all age it.
    float positionAgeMs() const { return positionAgeMs_.load(std::memory_order_relaxed); }

    // Audio thread only, between blocks: the time (ms) at the end of the last block, and
    // the time of the peak at which the position last changed (negative: not since reset).
    double timeMs() const { return timeBase; }
    double positionTimeMs() const { return positionTime; }
    // Any thread: peaks seen, and those that gave a bit, since construction; both wrap.
    std::uint32_t peaksSeen() const { return peaksSeen_.load(std::memory_order_relaxed); }
    std::uint32_t peaksWithBits() const { return peaksWithBits_.load(std::memory_order_relaxed); }
    // Any thread: FinalScratch frames whose sync bits matched but whose code the table
    // lacks, since construction; wraps.
    std::uint32_t framesNotInTable() const { return framesNotInTable_.load(std::memory_order_relaxed); }

    // Any thread: robust mode's measure of the step between the record's two levels, high
    // over low, as the front end leaves them (noise reads it a little shallower); 0 before
    // the first frame since reset, and always in faithful mode.
    float depth() const { return depth_.load(std::memory_order_relaxed); }
    // Shift-register types only: past the side's last cycle; the position stays at it.
    bool atEndOfRecord() const { return endOfRecord.load(std::memory_order_relaxed); }

    VinylType vinylType() const { return vinylType_; }
    float calibration() const { return calibrationValue.load(std::memory_order_relaxed); }

private:
    friend struct TimecodeDecoderProbe;  // tests reach the stages one by one

    // One channel's tracking during a block, kept in locals: the time of an extreme is
    // formed from its frame only when its record is handed on or the block ends, so most
    // samples cost a few integer comparisons.
    static constexpr std::int32_t noFrame = -1;  // the record's time stands
    struct Extremes {
        std::int32_t state;
        std::int32_t low, high;
        std::int32_t lowFrame, highFrame;  // frame index in this block, or noFrame
    };
    Extremes beginTracking(int channel) const;
    void trackSample(int channel, Extremes& extremes, std::int32_t s, std::int32_t frame, double framePeriodMs);
    void handOff(Peak& record, std::int32_t kind, std::int32_t value, std::int32_t frame, double framePeriodMs);
    void endTracking(int channel, const Extremes& extremes, double framePeriodMs);
    double timeOf(std::int32_t frame, double framePeriodMs) const;
    void trackSamples(const std::int16_t* samples, std::int32_t count);
    void conditionAndTrack(const std::int16_t* samples, std::int32_t count);
    bool admitFrame(double newPosition);
    double reckoningSpeed();
    void reckon();
    double reckonedPosition(double timeMs, double speed) const;
    static std::int32_t largestMagnitude(const std::int16_t* samples, std::int32_t count);
    void insertPeak(Peak& peak);
    void countLevelBit(const Peak& peak);
    void decideBitBySwing(Peak& peak);
    static bool swingIsSteady(std::int32_t previousSwing, std::int32_t currentSwing, double limit);
    void storePeak(const Peak& peak);
    void countValidBit();
    void decodeFrame();
    double speedTerm() const;
    bool estimateSpeed();
    void publishSpeed(int age);
    void publish(float value);
    float currentSpeed();                // what getSpeed returns, to within rounding
    bool windowBit(int position) const;  // position 0 is the oldest peak of the frame window
    bool readFrame(double& newPosition);
    void stepBack();
    bool turnsBack() const;  // robust: the speed since the last stop says the record goes backwards
    void frameRead(double newPosition);
    void setPosition(double value);
    void applyStopRule();
    void publishDepth();
    bool processShiftRegister(const std::int16_t* samples, std::int32_t count);

    VinylType vinylType_ = FinalScratch;
    const VinylFormat* format = &vinylFormat(FinalScratch);
    bool frameFormat = true;   // one the frame rules read
    float speedFactor = 0.0f;  // 1 / (two peak intervals in ms) at speed 1
    std::atomic<float> calibrationValue{0.0f};
    std::int32_t sampleRate = 0;
    std::int32_t minSwing = 655;
    std::int32_t swingHysteresis = hysteresis;  // the mode's
    std::uint16_t frameLength = 32;
    double timeBase = 0.0;  // ms; double so time stamps keep sample resolution on long streams
    // Whole ms, truncated; 64 bits so a stream of years cannot overflow it.
    std::atomic<std::int64_t> tpsWindowStart{0};
    PublishedSpeed speed;
    float currentSpeed_ = 1.0f;
    bool currentSpeedStale = false;
    std::atomic<float> position{0.0f};
    std::atomic<std::int32_t> level{0};
    Peak trough[2];
    Peak crest[2];
    std::int32_t channelState[2] = {0, 0};
    PeakHistory history;
    std::int32_t validBitCount = 0;
    std::int32_t peaksSinceDoubt = 0;  // robust: stored since the last doubtful one, up to a window
    SpeedWindow speedWindow;
    int unpublishedSpeedTerms = 0;  // > 0: terms of the newest estimate, not yet published in speed
    // Robust: the speed after a stop comes from the peaks since, up to a whole window.
    int termsSinceStop = SpeedWindow::length;
    bool positionUpdated = false;
    std::atomic<std::int32_t> timecodesPerSecond{0};
    std::atomic<std::int32_t> framesInWindow{0};

    bool frameReadSinceReset = false;
    double lastFrameTime = 0.0;  // ms: time of the peak that completed the newest frame
    double exactPosition = 0.0;  // what position rounds; steps back accumulate here without float loss
    const FinalScratchCodeTable* codeTable = nullptr;
    FrameSyncObserver* frameSyncObserver = nullptr;
    std::uint64_t peakCount = 0;  // peaks inserted since reset
    double positionTime = -1.0;
    std::atomic<std::uint32_t> peaksSeen_{0};
    std::atomic<std::uint32_t> peaksWithBits_{0};
    std::atomic<std::uint32_t> framesNotInTable_{0};

    DecodingMode mode = DecodingMode::faithful;  // the bare engine reads to the letter; programs say otherwise
    // What robust mode adds around the frame rules, stage by stage; each is tested alone.
    struct RobustStages {
        SignalConditioner conditioner;
        std::array<std::int16_t, 2 * SignalConditioner::chunkFrames> conditioned{};
        SmearCanceller smear[2];  // a channel each: undoes the smear, tells high peaks from low
        PositionGuard guard;
        DeadReckoning reckoning;
    } robust;
    std::atomic<float> positionAgeMs_{-1.0f};
    std::atomic<float> depth_{0.0f};
    // The shift-register types decode here, in robust mode whatever the mode set.
    ShiftRegisterDecoder shiftRegister;
    std::atomic<bool> endOfRecord{false};

    static_assert(std::atomic<float>::is_always_lock_free);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

}  // namespace platora
