#pragma once

#include <RtAudio.h>

#include <vector>

namespace platora {

// The APIs the program lists devices from, in listing order: ASIO, then DirectSound on
// Windows; JACK, then ALSA elsewhere. APIs this RtAudio was built without are passed over
// by the controller.
std::vector<RtAudio::Api> platformApis();

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

}  // namespace platora
