#include "AudioPlatform.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <sched.h>

namespace platora {

namespace {

void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

// alsa-lib's thread-local handler cannot be used from C++: the header declares it outside
// extern "C". So the process-wide one is swapped, on the main thread only.
snd_lib_error_handler_t previousHandler = nullptr;

}  // namespace

const char* const noDeviceHint =
    "is a JACK server running, is there an ALSA capture device, is the user in the audio group?";

std::vector<RtAudio::Api> platformApis() { return {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA}; }

bool realtimeGranted(RtAudio::Api api) {
    if (api != RtAudio::LINUX_ALSA) return true;
    // A thread started the way RtAudio starts its own tells whether the system allows it.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setinheritsched(&attributes, PTHREAD_EXPLICIT_SCHED);
    pthread_attr_setschedpolicy(&attributes, SCHED_RR);
    sched_param parameters{};
    parameters.sched_priority = realtimePriority;
    pthread_attr_setschedparam(&attributes, &parameters);
    pthread_t probe;
    const bool started = pthread_create(
                             &probe, &attributes, [](void*) -> void* { return nullptr; }, nullptr) == 0;
    pthread_attr_destroy(&attributes);
    if (started) pthread_join(probe, nullptr);
    return started;
}

QuietAudioDiagnostics::QuietAudioDiagnostics() {
    previousHandler = snd_lib_error;
    snd_lib_error_set_handler(&ignoreAlsaMessage);
}

QuietAudioDiagnostics::~QuietAudioDiagnostics() { snd_lib_error_set_handler(previousHandler); }

}  // namespace platora
