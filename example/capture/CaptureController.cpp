#include "CaptureController.h"

#include "AudioPlatform.h"
#include "DeviceDescription.h"
#include "InputConditioning.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <set>

namespace platora {

namespace {

constexpr std::int16_t minChannelCount = 2;  // the callback always hands two channels on

// The device's number now: JACK clients that came or went since the scan renumber the
// devices after them. Throws RtAudioError when no input device of that name is left.
unsigned int currentDeviceNumber(RtAudio& audio, const DeviceEntry& entry)
{
    const unsigned int count = audio.getDeviceCount();
    const auto hasName = [&](unsigned int device) {
        const RtAudio::DeviceInfo info = audio.getDeviceInfo(device);
        return info.probed && info.name == entry.name;
    };
    const auto listed = static_cast<unsigned int>(entry.device);
    if (listed < count && hasName(listed)) return listed;
    for (unsigned int device = 0; device < count; ++device)
        if (hasName(device)) return device;
    throw RtAudioError("CaptureController::open: the device \"" + entry.name + "\" is no longer available.",
                       RtAudioError::INVALID_DEVICE);
}

bool isCompiled(RtAudio::Api api)
{
    // Asked for an API it lacks, RtAudio falls back to another one.
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    return std::find(compiled.begin(), compiled.end(), api) != compiled.end();
}

std::int16_t lowSixteenBits(float gain)
{
    constexpr float beyondAnyLowBits = 0x1p40f;  // floats this large are multiples of 2^16
    if (!std::isfinite(gain) || std::fabs(gain) >= beyondAnyLowBits) return 0;
    const auto truncated = static_cast<std::int64_t>(gain);  // toward zero
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(truncated));
}

}  // namespace

CaptureController::CaptureController() : CaptureController(platformApis()) {}

CaptureController::CaptureController(const std::vector<RtAudio::Api>& apis)
{
    for (RtAudio::Api api : apis)
        if (isCompiled(api)) scanDevices(api);
}

CaptureController::~CaptureController()
{
    if (!audio) return;
    stopCapture();
    audio.reset();
}

std::int32_t CaptureController::deviceCount() const
{
    return static_cast<std::int32_t>(descriptions.size());
}

bool CaptureController::getDescription(std::int32_t index, std::string& text) const
{
    if (index < 0 || index >= deviceCount()) return false;
    text = descriptions[static_cast<std::size_t>(index)];
    return true;
}

std::int32_t CaptureController::getInputChannels(std::int32_t index) const
{
    if (index < 0 || index >= deviceCount()) return 0;
    return entries[static_cast<std::size_t>(index)].inputChannels;
}

bool CaptureController::open(std::int16_t index, std::int16_t channelCount)
{
    if (index < 0 || index >= deviceCount() || channelCount < minChannelCount) {
        // A running stream keeps the count it was opened with: the callback reads that
        // many channels per frame from its buffers.
        if (streamDevice == -1) channelCountSetting.store(channelCount, std::memory_order_relaxed);
        return false;
    }
    stopCapture();
    channelCountSetting.store(channelCount, std::memory_order_relaxed);
    return startStream(entries[static_cast<std::size_t>(index)], channelCount);
}

bool CaptureController::startStream(const DeviceEntry& entry, std::int16_t channelCount)
{
    try {
        // The old instance (and any stream it still holds) goes before the new one exists.
        audio.reset();
        audio = std::make_unique<RtAudio>(static_cast<RtAudio::Api>(entry.api));
        audio->showWarnings(false);

        // Safe: no stream runs on this decoder now.
        decoder.reset(sampleRateHz);

        RtAudio::StreamParameters input;
        input.deviceId = currentDeviceNumber(*audio, entry);
        input.nChannels = static_cast<unsigned int>(channelCount);
        input.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.numberOfBuffers = numberOfBuffers;
        unsigned int frames = bufferFrames;  // RtAudio may write back another size; not used
        // No error callback: with one, RtAudio 5 would report failures there instead of throwing.
        audio->openStream(nullptr, &input, RTAUDIO_SINT16, sampleRateHz, &frames, &inputCallback,
                          &decoder, &options);
        streamDevice = static_cast<std::int16_t>(input.deviceId);
        audio->startStream();
        if (audio->isStreamRunning()) return true;
    } catch (const RtAudioError& error) {
        error.printMessage();
    } catch (const std::exception& error) {
        std::cerr << '\n' << error.what() << "\n\n";
    }
    stopCapture();
    return false;
}

void CaptureController::stopCapture()
{
    if (streamDevice == -1) return;
    try {
        audio->stopStream();
        audio->closeStream();
    } catch (const RtAudioError&) {
        // Dropped: deleting the instance closes a stream it still carries.
    }
    streamDevice = -1;
}

void CaptureController::scanDevices(RtAudio::Api api)
{
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
            if (!info.probed || info.inputChannels < static_cast<unsigned int>(minChannelCount)) continue;
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

void CaptureController::setVinylType(std::int32_t type) { decoder.setVinylType(type); }

void CaptureController::setCalibration(float value) { decoder.setCalibration(value); }

void CaptureController::setPreampGain(float gain)
{
    preampGainSetting.store(lowSixteenBits(gain), std::memory_order_relaxed);
}

void CaptureController::setRiaaEnabled(bool on) { riaaEnabledSetting.store(on, std::memory_order_relaxed); }

float CaptureController::getSpeed() const { return decoder.getSpeed(); }

float CaptureController::getPosition() const { return decoder.getPosition(); }

std::int32_t CaptureController::getTimecodesPerSecond() const { return decoder.getTimecodesPerSecond(); }

std::int32_t CaptureController::getLevel() const { return decoder.getLevel(); }

}  // namespace platora
