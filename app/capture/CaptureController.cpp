#include "CaptureController.h"

#include "AudioPlatform.h"
#include "DeviceDescription.h"
#include "InputConditioning.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <set>

namespace platora {

namespace {

constexpr unsigned int minInputChannels = 2;  // a deck decodes a pair

// The device's number now: JACK clients that came or went since the scan renumber the
// devices after them. Nothing, with the line to tell, when no input device of that name is
// left. RtAudio's own failures still throw.
std::optional<unsigned int> currentDeviceNumber(RtAudio& audio, const DeviceEntry& entry, std::string& error) {
    const unsigned int count = audio.getDeviceCount();
    const auto hasName = [&](unsigned int device) {
        const RtAudio::DeviceInfo info = audio.getDeviceInfo(device);
        return info.probed && info.name == entry.name;
    };
    const auto listed = static_cast<unsigned int>(entry.device);
    if (listed < count && hasName(listed)) return listed;
    for (unsigned int device = 0; device < count; ++device)
        if (hasName(device)) return device;
    error = "CaptureController::open: the device \"" + entry.name + "\" is no longer available.";
    return std::nullopt;
}

// False, with the line to tell, when a JACK server answers at another rate than the program's.
bool jackServerRateFits(std::string& error) {
    const unsigned int rate = JackInput::serverRate();
    if (rate == 0 || rate == CaptureController::sampleRateHz) return true;
    error = jackRateMessage(rate, CaptureController::sampleRateHz);
    return false;
}

// RtAudio's words without its function name, on one line.
std::string oneLine(std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    if (const auto colon = message.find(": "); message.rfind("RtApi", 0) == 0 && colon != std::string::npos)
        message.erase(0, colon + 2);
    const auto first = message.find_first_not_of(' ');
    const auto last = message.find_last_not_of(' ');
    return first == std::string::npos ? std::string() : message.substr(first, last - first + 1);
}

// RtAudio writes its own messages to std::cerr, some from its threads (the JACK server shutting
// a client down); the program writes through stdio, so std::cerr goes nowhere.
void keepAudioLibraryOffScreen() {
    static const bool muted = [] {
        std::cerr.rdbuf(nullptr);
        return true;
    }();
    static_cast<void>(muted);
}

bool isCompiled(RtAudio::Api api) {
    // Asked for an API it lacks, RtAudio falls back to another one.
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
}

}  // namespace

CaptureController::CaptureController() : CaptureController(platformApis()) {}

CaptureController::CaptureController(const std::vector<RtAudio::Api>& apis)
    : jackThroughRtAudio(std::getenv(jackThroughRtAudioVariable) != nullptr) {
    keepAudioLibraryOffScreen();
    setDeckPairs({0});
    for (RtAudio::Api api : apis)
        if (isCompiled(api)) scanDevices(api);
}

CaptureController::~CaptureController() {
    stopCapture();
    audio.reset();
}

std::int32_t CaptureController::deviceCount() const { return static_cast<std::int32_t>(descriptions.size()); }

bool CaptureController::getDescription(std::int32_t index, std::string& text) const {
    if (index < 0 || index >= deviceCount()) return false;
    text = descriptions[static_cast<std::size_t>(index)];
    return true;
}

std::int32_t CaptureController::getInputChannels(std::int32_t index) const {
    if (index < 0 || index >= deviceCount()) return 0;
    return entries[static_cast<std::size_t>(index)].inputChannels;
}

std::string CaptureController::deviceName(std::int32_t index) const {
    if (index < 0 || index >= deviceCount()) return {};
    return entries[static_cast<std::size_t>(index)].name;
}

std::int32_t CaptureController::findDevice(const std::string& numberOrName) const {
    std::int32_t number = -1;
    const char* end = numberOrName.data() + numberOrName.size();
    const auto [parsed, error] = std::from_chars(numberOrName.data(), end, number);
    if (error == std::errc() && parsed == end) return number >= 0 && number < deviceCount() ? number : -1;
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == numberOrName) return static_cast<std::int32_t>(i);
    return -1;
}

bool CaptureController::canStream(std::int32_t index, std::string& error) const {
    if (index < 0 || index >= deviceCount()) return true;
    if (entries[static_cast<std::size_t>(index)].api != RtAudio::UNIX_JACK) return true;
    return jackServerRateFits(error);
}

void CaptureController::setDeckPairs(const std::vector<std::int32_t>& pairs) {
    stopCapture();  // the callback walks the decks
    decks.clear();
    for (const std::int32_t pair : pairs) decks.push_back(std::make_unique<Deck>(pair));
}

bool CaptureController::open(std::int16_t index, unsigned int requestedFrames) {
    if (index < 0 || index >= deviceCount() || decks.empty()) return false;
    stopCapture();
    std::int32_t channels = 0;
    for (const auto& deck : decks) channels = std::max(channels, deck->channelsNeeded());
    return startStream(entries[static_cast<std::size_t>(index)], channels, requestedFrames);
}

bool CaptureController::startJackInput(const DeviceEntry& entry, std::int32_t channels) {
    // Pieces come no longer than JACK's longest period, whatever the period becomes.
    stereo.assign(2 * static_cast<std::size_t>(JackInput::longestPieceFrames), 0);
    channelCount = channels;
    wakeups.notify_all();  // sets up the waiter table here, not on the audio thread
    ownJackClient = true;
    streamApi = RtAudio::UNIX_JACK;
    streamDevice = static_cast<std::int16_t>(entry.device);
    realtimeWasRefused = false;  // the server's thread
    if (jack.open(clientName, entry.name, channels, sampleRateHz, &jackBlock, this, lastOpenError)) {
        bufferFrames = jack.periodFrames();
        return true;
    }
    stopCapture();
    return false;
}

bool CaptureController::startStream(const DeviceEntry& entry, std::int32_t channels, unsigned int requestedFrames) {
    const auto api = static_cast<RtAudio::Api>(entry.api);
    lastOpenError.clear();
    // Safe: no stream runs on these decks now.
    for (const auto& deck : decks) deck->reset(sampleRateHz);
    if (api == RtAudio::UNIX_JACK && !jackThroughRtAudio) return startJackInput(entry, channels);
    RtAudio::StreamParameters input;
    try {
        // The old instance (and any stream it still holds) goes before the new one exists.
        audio.reset();
        audio = std::make_unique<RtAudio>(api);
        audio->showWarnings(false);

        const std::optional<unsigned int> device = currentDeviceNumber(*audio, entry, lastOpenError);
        if (!device) {
            stopCapture();  // what the last stream left, as after any failure here
            return false;
        }
        input.deviceId = *device;
        input.nChannels = static_cast<unsigned int>(channels);
        input.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.numberOfBuffers = numberOfBuffers;
        options.flags = RTAUDIO_SCHEDULE_REALTIME;
        options.priority = realtimePriority;
        options.streamName = clientName;
        realtimeWasRefused = !realtimeGranted(api);
        unsigned int frames = requestedFrames;  // RtAudio writes back the size it granted
        // No error callback: with one, RtAudio 5 would report failures there instead of throwing.
        audio->openStream(nullptr, &input, RTAUDIO_SINT16, sampleRateHz, &frames, &inputCallback, this, &options);
        bufferFrames = frames;
        channelCount = channels;
        // RtAudio's JACK stream hands a cycle's input to the callback in the next cycle.
        const long lateFrames = audio->getStreamLatency() + (api == RtAudio::UNIX_JACK ? frames : 0);
        rtAudioDelay = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(lateFrames) / sampleRateHz));
        stereo.assign(2 * static_cast<std::size_t>(std::max(frames, 1u)), 0);
        // The waiter table behind wait and notify is set up on first use: here, not on the audio thread.
        wakeups.notify_all();
        streamDevice = static_cast<std::int16_t>(input.deviceId);
        streamApi = api;
        audio->startStream();
        source.follow(api, clientName, entry.name, channels);
        if (audio->isStreamRunning()) return true;
        lastOpenError = "the stream did not start";
    } catch (const RtAudioError& error) {
        lastOpenError = oneLine(error.getMessage());
        // Asked only after such a failure: every question to RtAudio's JACK side opens a client.
        if (api == RtAudio::UNIX_JACK && lastOpenError.find("sample rate") != std::string::npos)
            if (std::string why; !jackServerRateFits(why)) lastOpenError = why;
    } catch (const std::exception& error) {
        lastOpenError = oneLine(error.what());
    }
    stopCapture();
    return false;
}

void CaptureController::stopCapture() {
    // The watch goes before the stream it watches.
    source.stop();
    jack.close();
    const bool onRtAudio = streamDevice != -1 && !ownJackClient;
    streamDevice = -1;
    ownJackClient = false;
    if (!onRtAudio) return;
    try {
        audio->stopStream();
    } catch (const RtAudioError&) {
        // Dropped: a stream the server closed cannot be stopped, only closed.
    }
    try {
        audio->closeStream();
    } catch (const RtAudioError&) {
        // Dropped: deleting the instance closes a stream it still carries.
    }
}

bool CaptureController::onJack() const { return streamDevice != -1 && streamApi == RtAudio::UNIX_JACK; }

bool CaptureController::streamRunning() const {
    if (streamDevice == -1) return false;
    return ownJackClient ? jack.running() : audio && audio->isStreamRunning();
}

bool CaptureController::sourceConnected() const { return ownJackClient ? jack.sourceConnected() : source.connected(); }

std::uint32_t CaptureController::waitForWakeup(std::uint32_t seen) const {
    wakeups.wait(seen, std::memory_order_acquire);
    return wakeups.load(std::memory_order_acquire);
}

void CaptureController::wake() {
    wakeups.fetch_add(1, std::memory_order_release);
    wakeups.notify_all();
}

int CaptureController::inputCallback(void* /*outputBuffer*/, void* inputBuffer, unsigned int frames,
                                     double /*streamTime*/, RtAudioStreamStatus /*status*/, void* userData) {
    if (inputBuffer == nullptr || userData == nullptr) return 0;
    auto& controller = *static_cast<CaptureController*>(userData);
    controller.handleBuffer(static_cast<const std::int16_t*>(inputBuffer), static_cast<std::int32_t>(frames),
                            Clock::now() - controller.rtAudioDelay);
    // Anything else would stop the stream.
    return 0;
}

void CaptureController::jackBlock(void* context, const std::int16_t* captured, std::int32_t frames,
                                  Clock::time_point at) {
    static_cast<CaptureController*>(context)->handleBuffer(captured, frames, at);
}

void CaptureController::handleBuffer(const std::int16_t* captured, std::int32_t frames, Clock::time_point at) {
    // A buffer larger than granted (a server that changed its period) goes in pieces.
    const auto chunkFrames = static_cast<std::int32_t>(stereo.size() / 2);
    for (std::int32_t done = 0; done < frames; done += chunkFrames) {
        const std::int32_t now = std::min(chunkFrames, frames - done);
        const std::int16_t* chunk = captured + static_cast<std::ptrdiff_t>(done) * channelCount;
        const auto later = std::chrono::duration<double>(static_cast<double>(frames - done - now) / sampleRateHz);
        const Clock::time_point chunkAt = at - std::chrono::duration_cast<Clock::duration>(later);
        for (const auto& deck : decks) deck->process(chunk, now, channelCount, stereo.data(), chunkAt);
    }
    blocks.store(blocks.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    // A futex wake when a sender waits, else one atomic load: no lock, no allocation.
    wakeups.fetch_add(1, std::memory_order_release);
    wakeups.notify_all();
}

void CaptureController::scanDevices(RtAudio::Api api) {
    QuietAudioDiagnostics quiet;
    try {
        RtAudio scan(api);
        // An absent JACK server would otherwise print a warning per query.
        scan.showWarnings(false);
        std::set<std::string> namesListed;  // per scan: another API may list the same name
        const unsigned int count = scan.getDeviceCount();
        for (unsigned int device = 0; device < count; ++device) {
            RtAudio::DeviceInfo info;
            try {
                info = scan.getDeviceInfo(device);
            } catch (const RtAudioError&) {
                continue;
            }
            if (!info.probed || info.inputChannels < minInputChannels) continue;
            // Only a listed device hides later ones of the same name.
            if (!namesListed.insert(info.name).second) continue;
            entries.push_back({static_cast<std::int32_t>(api), static_cast<std::int32_t>(device),
                               static_cast<std::int32_t>(info.inputChannels), info.name});
            descriptions.push_back(describeDevice(info, apiIdentifier(api)));
        }
    } catch (const RtAudioError&) {
        // The API contributes no devices.
    }
}

}  // namespace platora
