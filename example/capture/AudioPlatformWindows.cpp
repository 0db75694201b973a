#include "AudioPlatform.h"

namespace platora {

std::vector<RtAudio::Api> platformApis() { return {RtAudio::WINDOWS_ASIO, RtAudio::WINDOWS_DS}; }

// RtAudio raises its DirectSound thread's priority, which Windows grants; ASIO's thread is the driver's.
bool realtimeGranted(RtAudio::Api) { return true; }

// ASIO drivers and DirectSound report through RtAudio only, which the controller silences.
QuietAudioDiagnostics::QuietAudioDiagnostics() = default;
QuietAudioDiagnostics::~QuietAudioDiagnostics() = default;

}  // namespace platora
