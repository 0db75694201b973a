/* An ALSA capture device that plays a raw recording (16-bit stereo at 44100 Hz) in real time,
 * then silence: a sound card's pace without a sound card, so that what a program sends while
 * it captures does not depend on how fast a file can be read. Every frame of the recording is
 * delivered once and in order; a reader that falls behind gets the rest later, never a gap.
 * A private ALSA configuration names it (harness/platora_harness/chain.py writes one). */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <poll.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

enum { channels = 2, rateHz = 44100, bytesPerFrame = 2 * channels };

typedef struct {
    snd_pcm_ioplug_t io;
    FILE* recording;
    int timer; /* readable once a period has been captured */
    bool running;
    struct timespec started;
} PacedCapture;

static snd_pcm_uframes_t framesSinceStart(const PacedCapture* paced) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double seconds =
        (double)(now.tv_sec - paced->started.tv_sec) + 1e-9 * (double)(now.tv_nsec - paced->started.tv_nsec);
    return (snd_pcm_uframes_t)(seconds * rateHz);
}

static int armTimer(PacedCapture* paced, snd_pcm_uframes_t periodFrames) {
    const long long periodNs = (long long)periodFrames * 1000000000LL / rateHz;
    const struct timespec period = {.tv_sec = periodNs / 1000000000LL, .tv_nsec = periodNs % 1000000000LL};
    const struct itimerspec schedule = {.it_interval = period, .it_value = period};
    return timerfd_settime(paced->timer, 0, &schedule, NULL) < 0 ? -errno : 0;
}

static int start(snd_pcm_ioplug_t* io) {
    PacedCapture* paced = io->private_data;
    clock_gettime(CLOCK_MONOTONIC, &paced->started);
    paced->running = true;
    return armTimer(paced, io->period_size);
}

static int stop(snd_pcm_ioplug_t* io) {
    PacedCapture* paced = io->private_data;
    paced->running = false;
    return armTimer(paced, 0);
}

/* The hardware position within the buffer: a reader more than a buffer behind loses time, not frames. */
static snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io) {
    const PacedCapture* paced = io->private_data;
    return paced->running ? (snd_pcm_sframes_t)(framesSinceStart(paced) % io->buffer_size) : 0;
}

static snd_pcm_sframes_t transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas, snd_pcm_uframes_t offset,
                                  snd_pcm_uframes_t size) {
    PacedCapture* paced = io->private_data;
    char* frames = (char*)areas[0].addr + (areas[0].first + offset * areas[0].step) / 8;
    const size_t got = fread(frames, bytesPerFrame, size, paced->recording);
    memset(frames + got * bytesPerFrame, 0, (size - got) * bytesPerFrame);
    return (snd_pcm_sframes_t)size;
}

static int pollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds, unsigned short* revents) {
    (void)nfds;
    PacedCapture* paced = io->private_data;
    uint64_t expirations;
    if (pfd[0].revents & POLLIN) (void)!read(paced->timer, &expirations, sizeof expirations);
    *revents = pfd[0].revents;
    return 0;
}

static void release(PacedCapture* paced) {
    if (paced->recording != NULL) fclose(paced->recording);
    if (paced->timer >= 0) close(paced->timer);
    free(paced);
}

static int closeCapture(snd_pcm_ioplug_t* io) {
    release(io->private_data);
    return 0;
}

static const snd_pcm_ioplug_callback_t callbacks = {
    .start = start,
    .stop = stop,
    .pointer = pointer,
    .transfer = transfer,
    .poll_revents = pollRevents,
    .close = closeCapture,
};

static int setConstraints(snd_pcm_ioplug_t* io) {
    static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED}; /* mmap would read frames twice */
    static const unsigned int format[] = {SND_PCM_FORMAT_S16_LE};
    int err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access);
    if (err >= 0) err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, format);
    if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, channels, channels);
    if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, rateHz, rateHz);
    if (err >= 0)
        err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64 * bytesPerFrame,
                                              8192 * bytesPerFrame);
    if (err >= 0) err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    return err;
}

SND_PCM_PLUGIN_DEFINE_FUNC(platora_paced) {
    (void)root;
    const char* path = NULL;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf) {
        snd_config_t* entry = snd_config_iterator_entry(i);
        const char* id;
        if (snd_config_get_id(entry, &id) < 0 || strcmp(id, "comment") == 0 || strcmp(id, "type") == 0) continue;
        if (strcmp(id, "file") == 0 && snd_config_get_string(entry, &path) >= 0) continue;
        SNDERR("platora_paced: unknown or invalid field %s", id);
        return -EINVAL;
    }
    if (path == NULL || stream != SND_PCM_STREAM_CAPTURE) return -EINVAL;

    PacedCapture* paced = calloc(1, sizeof *paced);
    if (paced == NULL) return -ENOMEM;
    paced->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    paced->recording = fopen(path, "rb");
    if (paced->timer < 0 || paced->recording == NULL) {
        const int err = -errno;
        release(paced);
        return err;
    }
    paced->io.version = SND_PCM_IOPLUG_VERSION;
    paced->io.name = "A recording at a sound card's pace";
    paced->io.callback = &callbacks;
    paced->io.private_data = paced;
    paced->io.poll_fd = paced->timer;
    paced->io.poll_events = POLLIN;
    int err = snd_pcm_ioplug_create(&paced->io, name, stream, mode);
    if (err < 0) {
        release(paced);
        return err;
    }
    err = setConstraints(&paced->io);
    if (err < 0) {
        snd_pcm_ioplug_delete(&paced->io); /* closes it, which releases it */
        return err;
    }
    *pcmp = paced->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(platora_paced) /* expands to a declaration with its own semicolon */
