#pragma once

#include <RtAudio.h>

#include <vector>

namespace platora {

// The APIs the program lists devices from, in listing order: ASIO, then DirectSound on
// Windows; JACK, then ALSA elsewhere. APIs this RtAudio was built without are passed over
// by the controller.
std::vector<RtAudio::Api> platformApis();

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
