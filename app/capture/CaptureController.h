#pragma once

#include "AudioPlatform.h"
#include "Deck.h"
#include "DeviceEntry.h"

#include <RtAudio.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platora {

// The one object between the console and the audio libraries: lists the input devices and
// runs one input-only stream (16-bit, 44100 Hz) whose callback feeds every deck its channel
// pair. A JACK device is captured by a JACK client of the program's own (JackInput), which
// decodes each cycle within it; other devices through RtAudio. Every operation runs on the
// main thread unless said otherwise and raises nothing. RtAudio prints nothing: its failures
// while opening become openError's one line.
class CaptureController {
public:
    static constexpr std::int32_t sampleRateHz = nominalSampleRateHz;
    static constexpr unsigned int defaultBufferFrames = 1024;
    static constexpr unsigned int numberOfBuffers = 8;
    // The name a JACK stream's client shows in patchbays.
    static constexpr const char* clientName = "platora";
    // Set (to anything), JACK devices are captured through RtAudio's JACK stream, a period
    // later: kept for measuring the two against each other.
    static constexpr const char* jackThroughRtAudioVariable = "PLATORA_JACK_THROUGH_RTAUDIO";

    // Lists the devices with at least two input channels of the platform's APIs
    // (AudioPlatform.h): ASIO, then DirectSound on Windows; JACK, then ALSA elsewhere.
    // One deck, pair 0.
    CaptureController();
    // Lists the devices of these APIs, in this order; APIs RtAudio lacks are passed over.
    explicit CaptureController(const std::vector<RtAudio::Api>& apis);
    // Stops and closes the stream before the decks go away.
    ~CaptureController();

    CaptureController(const CaptureController&) = delete;
    CaptureController& operator=(const CaptureController&) = delete;

    std::int32_t deviceCount() const;
    // False, and text untouched, for an index outside the list.
    bool getDescription(std::int32_t index, std::string& text) const;
    // 0 for an index outside the list.
    std::int32_t getInputChannels(std::int32_t index) const;
    // The device's name; empty for an index outside the list.
    std::string deviceName(std::int32_t index) const;
    // The index of a device given as its number in the list or as its name; -1 if none.
    std::int32_t findDevice(const std::string& numberOrName) const;
    // Whether the device can stream as things stand: false, with the line why, when something
    // is known against it (a JACK server at another rate). Asks the JACK server for JACK devices.
    bool canStream(std::int32_t index, std::string& error) const;

    // One deck per pair, in this order, replacing the decks there were; a running stream stops first.
    void setDeckPairs(const std::vector<std::int32_t>& pairs);
    std::size_t deckCount() const { return decks.size(); }
    Deck& deck(std::size_t index) { return *decks[index]; }

    // Opens and starts a stream with as many channels as the highest pair needs, asking for
    // bufferFrames per buffer (JACK: the server's period, whatever is asked) and realtime
    // scheduling. True means the stream runs. A running stream is stopped first; the decks
    // are reset before the new stream opens.
    bool open(std::int16_t index, unsigned int bufferFrames = defaultBufferFrames);
    // Why the last open failed, one line; empty after a successful one.
    const std::string& openError() const { return lastOpenError; }
    // Frames per buffer of the last stream opened, as RtAudio granted them.
    unsigned int grantedBufferFrames() const { return bufferFrames; }
    // Whether the system refused realtime scheduling to the last stream that asked for it.
    bool realtimeRefused() const { return realtimeWasRefused; }

    // Whether an open succeeded and no later open or close undid it; the stream may since
    // have stopped on its own.
    bool streamOpen() const { return streamDevice != -1; }
    // Whether the stream is open and running. After the audio server went away this turns
    // false within moments (RtAudio closes its stream on a thread of its own).
    bool streamRunning() const;
    // Whether the stream still has its source: false once a JACK stream's ports lost their
    // connections while the server runs on (the source client went away).
    bool sourceConnected() const;
    // Whether the running stream is a JACK one: its buffer is the server's period.
    bool onJack() const;
    // Whether the running stream is captured by the program's own JACK client.
    bool onOwnJackClient() const { return streamDevice != -1 && ownJackClient; }
    // Buffers the callback has handled since construction; any thread; wraps.
    std::uint32_t blocksDelivered() const { return blocks.load(std::memory_order_acquire); }
    // Blocks the calling thread until wakeups differs from seen; returns the new count. The
    // callback wakes it after every buffer, and so does wake, from any thread.
    std::uint32_t waitForWakeup(std::uint32_t seen) const;
    std::uint32_t wakeupCount() const { return wakeups.load(std::memory_order_acquire); }
    void wake();

private:
    using Clock = std::chrono::steady_clock;
    static int inputCallback(void* outputBuffer, void* inputBuffer, unsigned int frames, double streamTime,
                             RtAudioStreamStatus status, void* userData);
    static void jackBlock(void* context, const std::int16_t* captured, std::int32_t frames, Clock::time_point at);
    // `at`: when the last frame was at the input.
    void handleBuffer(const std::int16_t* captured, std::int32_t frames, Clock::time_point at);
    void scanDevices(RtAudio::Api api);
    bool startStream(const DeviceEntry& entry, std::int32_t channelCount, unsigned int requestedFrames);
    bool startJackInput(const DeviceEntry& entry, std::int32_t channelCount);
    void stopCapture();

    std::unique_ptr<RtAudio> audio;  // null until the first open; replaced by every open
    std::vector<DeviceEntry> entries;
    std::vector<std::unique_ptr<Deck>> decks;  // fixed while a stream runs: the callback walks them
    std::vector<std::int16_t> stereo;          // the callback's scratch block, sized before each stream starts
    std::int32_t channelCount = 0;             // of the running stream
    std::vector<std::string> descriptions;
    std::int16_t streamDevice = -1;  // -1 while no stream is open
    unsigned int bufferFrames = defaultBufferFrames;
    bool realtimeWasRefused = false;
    std::string lastOpenError;
    SourceWatch source;  // of RtAudio's JACK streams
    JackInput jack;
    bool ownJackClient = false;            // the open stream is jack's, not RtAudio's
    bool jackThroughRtAudio = false;
    Clock::duration rtAudioDelay{};        // from a buffer's last frame at the input to its callback
    RtAudio::Api streamApi = RtAudio::UNSPECIFIED;
    std::atomic<std::uint32_t> blocks{0};
    std::atomic<std::uint32_t> wakeups{0};

    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);
};

}  // namespace platora
