#include "JackPlayer.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace platora {

namespace {

constexpr float floatFullScale = 32768.0f;
constexpr double microsecondsPerSecond = 1e6;
// Cycles start this far off the frames' own time only when one was missed; below it is jitter.
constexpr double missedCycleShare = 0.25;

void quiet(const char*) {}

}  // namespace

JackPlayer::~JackPlayer() {
    stop();
    // Closing a client whose server has gone can wait for ever on the dead server's socket;
    // the process ends soon after and takes the client with it.
    if (client_ && !serverGone()) jack_client_close(client_);
}

bool JackPlayer::open(const std::string& clientName, std::int32_t channels, std::string& error) {
    // libjack's own complaints would add lines to our one-line failure.
    jack_set_error_function(quiet);
    jack_set_info_function(quiet);
    jack_status_t status{};
    client_ = jack_client_open(clientName.c_str(), JackNoStartServer, &status);
    if (!client_) {
        error = "cannot connect to the JACK server as '" + clientName + "' (is jackd running?)";
        return false;
    }
    if (status & JackNameNotUnique) {
        error = "JACK client name '" + clientName + "' is taken";
        return false;
    }
    channels_ = std::clamp(channels, 1, maxChannels);
    for (std::int32_t i = 0; i < channels_; ++i) {
        std::string name = "out_" + std::to_string(i + 1);
        ports_[i] = jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!ports_[i]) {
            error = "cannot register JACK port " + name;
            return false;
        }
    }
    rows_.resize(manifestRingRows);
    if (jack_set_process_callback(client_, &JackPlayer::process, this) != 0) {
        error = "cannot set up the JACK client";
        return false;
    }
    jack_on_shutdown(client_, &JackPlayer::shutdown, this);
    return true;
}

std::int32_t JackPlayer::sampleRate() const { return static_cast<std::int32_t>(jack_get_sample_rate(client_)); }

std::int32_t JackPlayer::bufferFrames() const { return static_cast<std::int32_t>(jack_get_buffer_size(client_)); }

bool JackPlayer::start(TimecodeGenerator& generator, std::int64_t lengthFrames, std::string& error) {
    generator_ = &generator;
    lengthFrames_ = lengthFrames;
    if (jack_activate(client_) != 0) {
        error = "cannot activate the JACK client";
        return false;
    }
    active_ = true;
    return true;
}

void JackPlayer::stop() {
    if (active_ && !serverGone()) jack_deactivate(client_);
    active_ = false;
    // Without a server to deactivate against, the callback is shut out here instead: a cycle
    // under way ends first (libjack ends its thread on its own time).
    for (Cycle idle = Cycle::idle; !cycle_.compare_exchange_weak(idle, Cycle::shutOut, std::memory_order_acquire);
         idle = Cycle::idle) {
        if (idle == Cycle::shutOut) break;
        std::this_thread::yield();
    }
}

void JackPlayer::drainManifest(ManifestWriter* manifest) {
    std::size_t read = rowsRead_.load(std::memory_order_relaxed);
    const std::size_t written = rowsWritten_.load(std::memory_order_acquire);
    for (; read != written; ++read)
        if (manifest) manifest->write(rows_[read % rows_.size()]);
    rowsRead_.store(read, std::memory_order_release);
}

void JackPlayer::pushRow(const ManifestRow& row) {
    const std::size_t written = rowsWritten_.load(std::memory_order_relaxed);
    if (written - rowsRead_.load(std::memory_order_acquire) == rows_.size()) {
        droppedRows_.store(droppedRows_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return;
    }
    rows_[written % rows_.size()] = row;
    rowsWritten_.store(written + 1, std::memory_order_release);
}

int JackPlayer::process(jack_nframes_t frames, void* self) {
    auto& player = *static_cast<JackPlayer*>(self);
    Cycle idle = Cycle::idle;
    if (!player.cycle_.compare_exchange_strong(idle, Cycle::running, std::memory_order_acquire)) return 0;
    const int status = player.processBlock(frames);
    player.cycle_.store(Cycle::idle, std::memory_order_release);
    return status;
}

void JackPlayer::shutdown(void* self) {
    static_cast<JackPlayer*>(self)->serverGone_.store(true, std::memory_order_relaxed);
}

bool JackPlayer::timecodeConnected() const {
    // jack_port_connected reads the current graph without waiting when called from the
    // process thread.
    return jack_port_connected(ports_[channels_ - 2]) > 0 && jack_port_connected(ports_[channels_ - 1]) > 0;
}

int JackPlayer::processBlock(jack_nframes_t frames) {
    std::array<float*, maxChannels> out{};
    for (std::int32_t c = 0; c < channels_; ++c) out[c] = static_cast<float*>(jack_port_get_buffer(ports_[c], frames));

    bool finished = finished_.load(std::memory_order_relaxed);
    // The wall clock, not the cycle times: those follow a filter that takes seconds to settle after a stall.
    const jack_time_t now = jack_get_time();
    if (!playing_ && !finished && timecodeConnected()) {
        playing_ = true;
        playStart_ = now;
    }
    if (playing_) followServerClock(now);
    auto push = [this](ManifestRow row) {
        row.time += missedSeconds_;
        pushRow(row);
    };

    std::size_t done = 0;
    while (playing_ && !finished && done < frames) {
        std::size_t piece = std::min<std::size_t>(frames - done, chunkFrames);
        if (lengthFrames_ > 0)
            piece =
                std::min<std::size_t>(piece, static_cast<std::size_t>(lengthFrames_ - generator_->framesRendered()));
        renderWithManifest(*generator_, scratch_.data(), piece, push);
        for (std::size_t i = 0; i < piece; ++i)
            for (std::int32_t c = 0; c < channels_; ++c)
                out[c][done + i] =
                    static_cast<float>(scratch_[i * static_cast<std::size_t>(channels_) + c]) / floatFullScale;
        done += piece;
        framesPlayed_.store(generator_->framesRendered(), std::memory_order_relaxed);
        if (lengthFrames_ > 0 && generator_->framesRendered() >= lengthFrames_) {
            push(generator_->state());
            finished = true;
            finished_.store(true, std::memory_order_relaxed);
        }
    }
    // Before the connections and after the end: silence.
    for (std::int32_t c = 0; c < channels_; ++c) std::fill(out[c] + done, out[c] + frames, 0.0f);
    return 0;
}

void JackPlayer::followServerClock(jack_time_t now) {
    const double rate = generator_->settings().sampleRate;
    const double sinceStart = static_cast<double>(static_cast<std::int64_t>(now - playStart_)) / microsecondsPerSecond;
    const double late = sinceStart - static_cast<double>(generator_->framesRendered()) / rate;
    const double period = static_cast<double>(jack_get_buffer_size(client_)) / rate;
    // After a miss the earliest wake-up since tells it best: a cycle may begin late, never early.
    if (std::fabs(late - missedSeconds_) > missedCycleShare * period) {
        missedSeconds_ = late;
        missed_ = true;
    } else if (missed_) {
        missedSeconds_ = std::min(missedSeconds_, late);
    }
}

}  // namespace platora
