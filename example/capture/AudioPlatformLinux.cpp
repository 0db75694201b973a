#include "AudioPlatform.h"

#include <alsa/asoundlib.h>

namespace platora {

namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// alsa-lib's thread-local handler cannot be used from C++: the header declares it outside
// extern "C". So the process-wide one is swapped, on the main thread only.
snd_lib_error_handler_t previousHandler = nullptr;

}  // namespace

std::vector<RtAudio::Api> platformApis() { return {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA}; }

QuietAudioDiagnostics::QuietAudioDiagnostics()
{
    previousHandler = snd_lib_error;
    snd_lib_error_set_handler(&ignoreAlsaMessage);
}

QuietAudioDiagnostics::~QuietAudioDiagnostics() { snd_lib_error_set_handler(previousHandler); }

}  // namespace platora
