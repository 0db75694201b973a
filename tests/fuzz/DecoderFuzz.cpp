// The audio path as the input callback runs it, on arbitrary buffers and settings: any
// channel count, gain, RIAA, vinyl type and calibration (0, negative, NaN and infinity
// included). Aborts when the path allocates or a result a receiver gets is not a number
// (an infinite speed is left to the decoder's rules).
//
// Input: a 12-byte header, then interleaved 16-bit little-endian samples.
//   0 sample rate (index)  1 vinyl type (index)  2 calibration (index; past the list: bytes 3-6)
//   7 channels and pair (2 to 8 channels, any pair within them)  8-9 gain  10 RIAA (bit 0)
//   11 frames per block / 16 - 1
#include "Deck.h"
#include "FrameLayout.h"

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

namespace {

using namespace platora;

constexpr std::size_t headerBytes = 12;
constexpr std::int32_t sampleRates[] = {44100, 48000, 8000, 192000};
constexpr VinylType vinylTypes[] = {FinalScratch, Mixvibes, SeratoA, static_cast<VinylType>(-1)};
constexpr float calibrations[] = {1.07f,
                                  1.2f,
                                  0.0f,
                                  -1.0f,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::denorm_min(),
                                  std::numeric_limits<float>::max()};
constexpr std::size_t framesPerBlockStep = 16;

bool audioPathRunning = false;  // libFuzzer runs one input at a time on one thread

void abortIfAudioPath(const volatile void*, std::size_t) {
    if (audioPathRunning) std::abort();  // the audio path must not allocate
}
void ignoreFree(const volatile void*) {}

template <typename T, std::size_t N>
T pick(const T (&values)[N], std::uint8_t index) {
    return values[index % N];
}

const FinalScratchCodeTable& syntheticTable() {
    static const FinalScratchCodeTable table = [] {
        FinalScratchCodeTable t;
        t.assign(syntheticFinalScratchTable());
        return t;
    }();
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Both hooks or none: the runtime refuses a null one.
    if (__sanitizer_install_malloc_and_free_hooks(abortIfAudioPath, ignoreFree) == 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < headerBytes) return 0;
    float calibration = 0.0f;
    if (data[2] < std::size(calibrations)) {
        calibration = calibrations[data[2]];
    } else {
        std::memcpy(&calibration, data + 3, sizeof calibration);
    }
    const std::int32_t channels = 2 + data[7] % 7;
    const std::int32_t pair = data[7] / 7 % (channels / 2);
    const auto samplesPerFrame = static_cast<std::size_t>(channels);
    const std::size_t framesPerBlock = (data[11] + 1u) * framesPerBlockStep;

    Deck deck(pair);
    deck.setDecoding({pick(vinylTypes, data[1]), DecodingMode::faithful, calibration, &syntheticTable()});
    deck.reset(pick(sampleRates, data[0]));
    const TimecodeDecoder& decoder = deck.decoder();
    deck.setPreampGain(static_cast<std::int16_t>(data[8] | data[9] << 8));
    deck.setRiaaEnabled((data[10] & 1) != 0);
    deck.setInterpolation((data[10] & 2) != 0);

    const std::size_t sampleCount = (size - headerBytes) / sizeof(std::int16_t);
    std::vector<std::int16_t> block(framesPerBlock * samplesPerFrame);
    std::vector<std::int16_t> stereo(2 * framesPerBlock);
    for (std::size_t done = 0; done < sampleCount;) {
        const std::size_t frames =
            std::min(framesPerBlock, (sampleCount - done + samplesPerFrame - 1) / samplesPerFrame);
        const std::size_t taken = std::min(frames * samplesPerFrame, sampleCount - done);
        std::fill(block.begin(), block.end(), 0);
        std::memcpy(block.data(), data + headerBytes + done * sizeof(std::int16_t), taken * sizeof(std::int16_t));
        done += taken;
        audioPathRunning = true;
        deck.process(block.data(), static_cast<std::int32_t>(frames), channels, stereo.data());
        audioPathRunning = false;
        // Speed may be infinite: the estimate is 1 / mean, and opposite terms can cancel.
        if (!std::isfinite(deck.getPosition()) || std::isnan(decoder.getSpeed()) ||
            decoder.getTimecodesPerSecond() < 0 || decoder.getLevel() < 0)
            std::abort();
    }
    return 0;
}
