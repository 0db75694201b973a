#include "AudioPlatform.h"

namespace platora {

const char* const noDeviceHint =
    "is a recording device connected, and enabled on the Recording tab of the Windows sound settings?";

std::vector<RtAudio::Api> platformApis() { return {RtAudio::WINDOWS_ASIO, RtAudio::WINDOWS_DS}; }

// RtAudio raises its DirectSound thread's priority, which Windows grants; ASIO's thread is the driver's.
bool realtimeGranted(RtAudio::Api) { return true; }

// ASIO drivers and DirectSound report through RtAudio only, which the controller silences.
QuietAudioDiagnostics::QuietAudioDiagnostics() = default;
QuietAudioDiagnostics::~QuietAudioDiagnostics() = default;

}  // namespace platora

namespace platora {

// No JACK on Windows: every stream counts as connected.
struct SourceWatch::Jack {};
SourceWatch::SourceWatch() = default;
SourceWatch::~SourceWatch() = default;
void SourceWatch::follow(RtAudio::Api, const std::string&, const std::string&, int) {}
void SourceWatch::stop() {}
bool SourceWatch::connected() const { return true; }

}  // namespace platora

namespace platora {

// No JACK on Windows: no device is a JACK one, so nothing opens.
std::string jackRateMessage(unsigned int, unsigned int) { return {}; }
struct JackInput::Client {};
JackInput::JackInput() = default;
JackInput::~JackInput() = default;
unsigned int JackInput::serverRate() { return 0; }
bool JackInput::open(const std::string&, const std::string&, int, unsigned int, BlockHandler, void*,
                     std::string& error) {
    error = "no JACK on this system";
    return false;
}
void JackInput::close() {}
bool JackInput::running() const { return false; }
bool JackInput::sourceConnected() const { return true; }
unsigned int JackInput::periodFrames() const { return 0; }

}  // namespace platora
