#pragma once

#include "SignalFiles.h"
#include "TimecodeGenerator.h"

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// Plays a generator live into a JACK server, one output port per channel (out_1 ..).
// It stays silent, without advancing the signal, until every timecode port (the last
// two) has a connection; from then on it plays, so a capture sees the signal from its
// first sample. The manifest's time is the server's since play began: a stalled machine
// holds the whole graph, or the player misses cycles, while the frames go on where they
// stopped, so the time moves on by what was missed. The process callback renders into a fixed buffer and hands manifest
// rows to the main thread through a single-producer ring of atomics; it allocates
// nothing and locks nothing.
// All operations except the callbacks belong to one (main) thread.
class JackPlayer {
public:
    static constexpr std::int32_t maxChannels = 4;

    JackPlayer() = default;
    JackPlayer(const JackPlayer&) = delete;
    JackPlayer& operator=(const JackPlayer&) = delete;
    ~JackPlayer();

    // Connects to the running server (never starts one) and registers `channels` ports.
    bool open(const std::string& clientName, std::int32_t channels, std::string& error);
    std::int32_t sampleRate() const;
    std::int32_t bufferFrames() const;

    // Activates the client. lengthFrames 0 plays until stop(). The generator must use
    // sampleRate() and outlive the player's activity.
    bool start(TimecodeGenerator& generator, std::int64_t lengthFrames, std::string& error);

    bool playing() const { return framesPlayed() > 0; }
    bool finished() const { return finished_.load(std::memory_order_relaxed); }
    std::int64_t framesPlayed() const { return framesPlayed_.load(std::memory_order_relaxed); }
    bool serverGone() const { return serverGone_.load(std::memory_order_relaxed); }
    std::int64_t droppedRows() const { return droppedRows_.load(std::memory_order_relaxed); }

    // Writes the rows gathered so far.
    void drainManifest(ManifestWriter* manifest);

    // Deactivates the client (with its server gone, only keeps the callback out); from then on
    // the generator may go.
    void stop();

private:
    static constexpr std::size_t chunkFrames = 256;
    static constexpr std::size_t manifestRingRows = 1 << 16;  // over a minute of rows

    static int process(jack_nframes_t frames, void* self);
    static void shutdown(void* self);

    int processBlock(jack_nframes_t frames);
    void followServerClock(jack_time_t now);
    bool timecodeConnected() const;
    void pushRow(const ManifestRow& row);

    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, maxChannels> ports_{};
    std::int32_t channels_ = 0;
    TimecodeGenerator* generator_ = nullptr;
    std::int64_t lengthFrames_ = 0;
    bool active_ = false;
    std::array<std::int16_t, chunkFrames * maxChannels> scratch_{};
    bool playing_ = false;  // process thread only
    // Process thread only: when the first cycle played woke, and how much later than the frames
    // played since then the cycles wake, once one was missed.
    jack_time_t playStart_ = 0;
    double missedSeconds_ = 0.0;
    bool missed_ = false;
    std::vector<ManifestRow> rows_;            // the ring; sized before activation
    std::atomic<std::size_t> rowsWritten_{0};  // written by the process thread, release
    std::atomic<std::size_t> rowsRead_{0};     // written by the main thread, release
    std::atomic<std::int64_t> framesPlayed_{0};
    std::atomic<bool> finished_{false};
    std::atomic<bool> serverGone_{false};
    enum class Cycle { idle, running, shutOut };
    std::atomic<Cycle> cycle_{Cycle::idle};
    std::atomic<std::int64_t> droppedRows_{0};

    static_assert(std::atomic<bool>::is_always_lock_free);
    static_assert(std::atomic<Cycle>::is_always_lock_free);
    static_assert(std::atomic<std::size_t>::is_always_lock_free);
    static_assert(std::atomic<std::int32_t>::is_always_lock_free);
    static_assert(std::atomic<std::int64_t>::is_always_lock_free);
};

}  // namespace platora
