#include "TimecodeDecoder.h"

namespace platora {

// The shift-register decoder's reading, published through the decoder's own getters.
bool TimecodeDecoder::processShiftRegister(const std::int16_t* samples, std::int32_t count) {
    constexpr auto relaxed = std::memory_order_relaxed;
    const double positionTimeBefore = shiftRegister.positionTimeMs();
    const std::uint32_t peaksBefore = shiftRegister.bitPeaks();
    const std::uint32_t clearBefore = shiftRegister.clearBits();
    shiftRegister.process(samples, count / 2, timeBase);
    timeBase = shiftRegister.timeMs();
    publish(shiftRegister.speed());
    level.store(largestMagnitude(samples, count), relaxed);
    if (shiftRegister.hasPosition() && shiftRegister.positionTimeMs() != positionTimeBefore) {
        setPosition(shiftRegister.position());
        positionTime = shiftRegister.positionTimeMs();
        positionUpdated = true;
    }
    // At the end the position stands as of now: a deck moving it on by the speed would pass the end.
    if (shiftRegister.endOfRecord()) positionTime = timeBase;
    frameReadSinceReset = shiftRegister.lastReadMs() >= 0.0;
    lastFrameTime = shiftRegister.lastReadMs();
    timecodesPerSecond.store(shiftRegister.readsPerSecond(), relaxed);
    // One writer: plain stores; unsigned differences stay right across the wrap.
    peaksSeen_.store(peaksSeen_.load(relaxed) + (shiftRegister.bitPeaks() - peaksBefore), relaxed);
    peaksWithBits_.store(peaksWithBits_.load(relaxed) + (shiftRegister.clearBits() - clearBefore), relaxed);
    endOfRecord.store(shiftRegister.endOfRecord(), relaxed);
    positionAgeMs_.store(frameReadSinceReset ? static_cast<float>(timeBase - lastFrameTime) : -1.0f, relaxed);
    return positionUpdated;
}

}  // namespace platora
