#pragma once

#include <RtAudio.h>

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

}  // namespace platora
