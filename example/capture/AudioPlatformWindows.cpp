#include "AudioPlatform.h"

namespace platora {

std::vector<RtAudio::Api> platformApis() { return {RtAudio::WINDOWS_ASIO, RtAudio::WINDOWS_DS}; }

// ASIO drivers and DirectSound report through RtAudio only, which the controller silences.
QuietAudioDiagnostics::QuietAudioDiagnostics() = default;
QuietAudioDiagnostics::~QuietAudioDiagnostics() = default;

}  // namespace platora
