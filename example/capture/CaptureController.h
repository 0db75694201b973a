#pragma once

#include "DeviceEntry.h"
#include "TimecodeDecoder.h"

#include <RtAudio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platora {

// The one object between the console and RtAudio: lists the input devices, runs one
// input-only stream (16-bit, 44100 Hz) into its decoder, and passes settings and results
// through. Every operation runs on the main thread and raises nothing; RtAudio's
// failures while opening are printed on stderr by RtAudio's own printMessage.
class CaptureController {
public:
    static constexpr std::int32_t sampleRateHz = 44100;
    static constexpr unsigned int bufferFrames = 1024;
    static constexpr unsigned int numberOfBuffers = 8;

    // Lists the devices with at least two input channels of the platform's APIs
    // (AudioPlatform.h): ASIO, then DirectSound on Windows; JACK, then ALSA elsewhere.
    CaptureController();
    // Lists the devices of these APIs, in this order; APIs RtAudio lacks are passed over.
    explicit CaptureController(const std::vector<RtAudio::Api>& apis);
    // Stops and closes the stream before the decoder goes away.
    ~CaptureController();

    CaptureController(const CaptureController&) = delete;
    CaptureController& operator=(const CaptureController&) = delete;

    std::int32_t deviceCount() const;
    // False, and text untouched, for an index outside the list.
    bool getDescription(std::int32_t index, std::string& text) const;
    // The index must be below deviceCount().
    std::int32_t getInputChannels(std::int32_t index) const;

    // Opens and starts a stream of channelCount channels (at least 2; the last two are
    // the pair decoded) on the listed device. True means the stream runs. A running
    // stream is stopped first; the decoder is reset before the new stream opens.
    bool open(std::int16_t index, std::int16_t channelCount);

    void setVinylType(std::int32_t type);
    void setCalibration(float value);
    // Truncated toward zero; the low 16 bits are kept.
    void setPreampGain(float gain);
    void setRiaaEnabled(bool on);

    float getSpeed() const;
    float getPosition() const;
    std::int32_t getTimecodesPerSecond() const;
    std::int32_t getLevel() const;

private:
    void scanDevices(RtAudio::Api api);
    bool startStream(const DeviceEntry& entry, std::int16_t channelCount);
    void stopCapture();

    std::unique_ptr<RtAudio> audio;  // null until the first open; replaced by every open
    std::vector<DeviceEntry> entries;
    TimecodeDecoder decoder;  // the callback's user data
    std::vector<std::string> descriptions;
    std::int16_t streamDevice = -1;  // -1 while no stream is open
};

}  // namespace platora
