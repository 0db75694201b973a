#include "Stage.h"

#include "CaptureController.h"
#include "ConsoleControl.h"
#include "FinalScratchCodeTable.h"
#include "GainAndCalibration.h"
#include "OscSender.h"
#include "SettingsFile.h"
#include "Streaming.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace platora {

namespace {

constexpr float finalScratchCalibration = 1.2f;
constexpr float mixvibesCalibration = 1.07f;
constexpr std::uint32_t settleBlocks = 4;
constexpr int settleWaitMs = 10;
constexpr int settleWaitsMax = 100;  // a second at most

const char* vinylName(VinylType type) { return type == FinalScratch ? "FinalScratch" : "Mixvibes"; }

int failure(std::string line)
{
    std::replace(line.begin(), line.end(), '\n', ' ');  // RtAudio's words may span lines
    std::fflush(stdout);
    std::fprintf(stderr, "platora: %s\n", line.c_str());
    return 1;
}

float calibrationFor(const StageSettings& settings, VinylType type)
{
    if (settings.calibration == CalibrationSource::value) return settings.calibrationValue;
    float saved = 0.0f;
    if (settings.calibration == CalibrationSource::saved && loadCalibrationValue(saved)) return saved;
    return type == FinalScratch ? finalScratchCalibration : mixvibesCalibration;
}

}  // namespace

int runStage(const StageSettings& settings)
{
    const bool quiet = settings.quiet;
    // First: a stop signal at any moment ends the program with status 0.
    if (!installStopHandler()) std::printf("Unable to install close handler!\n");
    CaptureController controller;
    const std::int32_t device = controller.findDevice(settings.device);
    if (device < 0) return failure("no input device \"" + settings.device + "\" (see --list-devices)");
    const std::string deviceName = controller.getName(device);

    std::vector<std::int32_t> pairs;
    for (const DeckSettings& deck : settings.decks) pairs.push_back(deck.pair);
    const std::int32_t channels = controller.getInputChannels(device);
    if (const std::int32_t highest = *std::max_element(pairs.begin(), pairs.end()); 2 * highest + 2 > channels)
        return failure("pair " + std::to_string(highest) + " needs channels " + std::to_string(2 * highest + 1) + "/" +
                       std::to_string(2 * highest + 2) + ", but the device has " + std::to_string(channels) + " inputs");
    controller.setDeckPairs(pairs);

    bool tableLoaded = false;
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        const DeckSettings& wanted = settings.decks[i];
        Deck& deck = controller.deck(i);
        deck.setVinylType(wanted.vinyl);
        deck.setCalibration(calibrationFor(settings, wanted.vinyl));
        deck.setRiaaEnabled(settings.riaa);
        if (settings.preamp == PreampMode::fixed) deck.setPreampGain(settings.preampGain);
        deck.setInterpolation(settings.interpolate);
        std::string error;
        auto sender = OscSender::create(settings.host.c_str(), wanted.port, error);
        if (!sender) return failure(error);
        deck.setDestination(std::move(sender));
        if (wanted.vinyl == FinalScratch && !tableLoaded) {
            std::string usedPath;
            tableLoaded = FinalScratchCodeTable::shared().loadDefault(usedPath, error);
            if (!tableLoaded) std::printf("%s; FinalScratch positions cannot be decoded\n", error.c_str());
        }
    }

    const auto deviceIndex = static_cast<std::int16_t>(device);
    if (!controller.open(deviceIndex, settings.bufferFrames, true))
        return failure("cannot open the audio device \"" + deviceName + "\": " + controller.openError());
    if (controller.grantedBufferFrames() != settings.bufferFrames && !quiet)
        std::printf("> the audio library granted %u frames per buffer (asked for %u)\n",
                    controller.grantedBufferFrames(), settings.bufferFrames);
    if (controller.realtimeRefused())
        std::printf("> the system refused realtime scheduling; the audio thread runs at normal priority\n");
    if (settings.preamp == PreampMode::automatic) {
        // The gain must not climb while the first buffers are still on their way.
        const std::uint32_t opened = controller.blocksDelivered();
        for (int wait = 0; wait < settleWaitsMax && controller.blocksDelivered() - opened < settleBlocks; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(settleWaitMs));
        for (std::size_t i = 0; i < controller.deckCount(); ++i)
            if (!raiseGainToTarget(controller.deck(i)) && !stopRequested.load() && !quiet)
                std::printf("> deck %zu: no signal reached the target level; its preamp stays at gain 1\n", i);
    }
    if (!quiet) {
        std::printf("> streaming from %s, %u frames per buffer, sending %s%s\n", deviceName.c_str(),
                    controller.grantedBufferFrames(), settings.send == SendMode::block ? "after every block" : "every 5 ms",
                    settings.interpolate ? ", positions interpolated" : "");
        for (std::size_t i = 0; i < settings.decks.size(); ++i) {
            const DeckSettings& deck = settings.decks[i];
            std::printf("> deck %zu: channels %d/%d, %s, calibration %.2f, to %s:%d\n", i, 2 * deck.pair + 1,
                        2 * deck.pair + 2, vinylName(deck.vinyl),
                        static_cast<double>(controller.deck(i).decoder().getCalibration()), settings.host.c_str(),
                        deck.port);
        }
        std::fflush(stdout);
    }

    StreamingChoices choices;
    choices.deviceIndex = deviceIndex;
    choices.bufferFrames = settings.bufferFrames;
    choices.sendPerBlock = settings.send == SendMode::block;
    choices.report = quiet ? StreamReport::quiet : StreamReport::live;
    streamDecks(controller, choices);
    return 0;
}

}  // namespace platora
