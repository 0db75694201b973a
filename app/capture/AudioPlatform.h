#pragma once

#include <RtAudio.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platora {

// The APIs the program lists devices from, in listing order: ASIO, then DirectSound on
// Windows; JACK, then ALSA elsewhere. APIs this RtAudio was built without are passed over
// by the controller.
std::vector<RtAudio::Api> platformApis();

// What to check when no device is listed, in the platform's terms.
extern const char* const noDeviceHint;

// The priority asked of RtAudio with RTAUDIO_SCHEDULE_REALTIME: above desktop work,
// below an audio server's own threads.
inline constexpr int realtimePriority = 70;

// Whether RtAudio's callback thread for this API would get realtime scheduling. RtAudio falls
// back to normal scheduling without a word when the system refuses it. APIs whose thread
// is not RtAudio's to schedule (JACK's is the server's) count as granted.
bool realtimeGranted(RtAudio::Api api);

// While it lives, the platform's audio layer prints nothing of its own on stderr (alsa-lib
// writes "ALSA lib ..." lines while RtAudio probes, e.g. when there is no card at all).
// Main thread only; not nested.
class QuietAudioDiagnostics {
public:
    QuietAudioDiagnostics();
    ~QuietAudioDiagnostics();
    QuietAudioDiagnostics(const QuietAudioDiagnostics&) = delete;
    QuietAudioDiagnostics& operator=(const QuietAudioDiagnostics&) = delete;
};

// Follows whether a JACK stream's input ports still have their connections: a source client
// that goes away while the server runs (an interface unplugged under PipeWire) leaves them
// unconnected, and the stream runs on with silence. Streams of other APIs always count as
// connected. Main thread; connected() reads the server's graph without a round trip.
class SourceWatch {
public:
    SourceWatch();
    ~SourceWatch();
    SourceWatch(const SourceWatch&) = delete;
    SourceWatch& operator=(const SourceWatch&) = delete;

    // From now on connected() looks at input ports 0 .. channels-1 of the stream's client,
    // named clientName (or clientName-NN: JACK numbers a name taken already), fed by the
    // client sourceName. Call it once the stream runs.
    void follow(RtAudio::Api api, const std::string& clientName, const std::string& sourceName, int channels);
    void stop();
    bool connected() const;

private:
    struct Jack;
    std::unique_ptr<Jack> jack;  // null unless a JACK stream is followed
};

// What to tell when a JACK server runs at another rate than the program's, with the fix.
std::string jackRateMessage(unsigned int serverRateHz, unsigned int wantedRateHz);

// Captures a JACK client's output ports through a client of its own whose process callback
// hands each cycle's input on within that cycle (RtAudio's JACK stream hands it on in the
// next one). The server's period rules the block size. Main thread, except the handler.
class JackInput {
public:
    using Clock = std::chrono::steady_clock;
    // Audio thread: frames x channels interleaved 16-bit samples, RtAudio's conversion of
    // JACK's floats, and when the last of them was at the port. A cycle longer than the
    // period at open comes in pieces, each with its own time.
    using BlockHandler = void (*)(void* context, const std::int16_t* interleaved, std::int32_t frames,
                                  Clock::time_point captured);

    // JACK's longest period; a longer cycle comes in pieces of this.
    static constexpr unsigned int longestPieceFrames = 8192;

    JackInput();
    ~JackInput();  // closes
    JackInput(const JackInput&) = delete;
    JackInput& operator=(const JackInput&) = delete;

    // The sample rate of the server clients talk to; 0 when none answers.
    static unsigned int serverRate();

    // Opens the client clientName (JACK numbers a name taken already) with input ports
    // "inport 0" .. "inport channels-1", activates it and connects the first output ports of
    // the client sourceName to them, in order. False, with one line in error and nothing
    // left open, when no server answers, it runs at another rate than rateHz, the source
    // lacks the ports, or JACK refuses.
    bool open(const std::string& clientName, const std::string& sourceName, int channels, unsigned int rateHz,
              BlockHandler handler, void* context, std::string& error);
    // No handler call after it returns. Also after the server went away.
    void close();
    // Open, and the server has not shut the client down.
    bool running() const;
    // Whether every input port still has a connection: a source client that left (an
    // interface unplugged under PipeWire) leaves them unconnected while the server runs on.
    // True once the server is gone: running() tells then.
    bool sourceConnected() const;
    unsigned int periodFrames() const;

private:
    struct Client;
    std::unique_ptr<Client> client;  // null while closed
};

}  // namespace platora
