#pragma once

#include <RtAudio.h>

#include <atomic>
#include <cstdint>

namespace platora {

// The conditioning settings: process-wide, written on the main thread (by the capture
// controller), read once per buffer by the input callback on the audio thread.
// channels per frame of the stream; -1 until the first open
extern std::atomic<std::int16_t> channelCountSetting;
// integer factor applied to every sample
extern std::atomic<std::int16_t> preampGainSetting;
// whether the RIAA scaling runs
extern std::atomic<bool> riaaEnabledSetting;

inline constexpr std::int16_t initialChannelCount = -1;
inline constexpr std::int16_t initialPreampGain = 1;

// Scale of the RIAA correction: it has no memory, so it reduces to this fixed gain.
extern const double riaaScale;

// Turns a captured buffer of `frames` frames of `channelCount` interleaved channels into
// the stereo block the decoder takes, in place in its first 2 x frames samples: the last
// two channels of each frame, then the RIAA scaling if on, then the gain. Results beyond
// 16 bits saturate. With channelCount <= 2 the buffer is taken as stereo already.
// Real-time safe: no allocation, no lock.
void conditionBlock(std::int16_t* samples, std::int32_t frames, std::int32_t channelCount,
                    std::int16_t preampGain, bool riaaEnabled);

// RtAudio's stream callback: userData is the TimecodeDecoder. Conditions the buffer with
// the current settings and hands it to the decoder. Always returns 0, so the stream goes on.
int inputCallback(void* outputBuffer, void* inputBuffer, unsigned int frames, double streamTime,
                  RtAudioStreamStatus status, void* userData);

}  // namespace platora
