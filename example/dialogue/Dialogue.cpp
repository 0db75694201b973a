#include "Dialogue.h"

#include "Answers.h"
#include "ConsoleControl.h"
#include "FinalScratchCodeTable.h"
#include "GainAndCalibration.h"
#include "SettingsFile.h"
#include "Streaming.h"

#include <cstdio>

namespace platora {

namespace {

constexpr const char* banner = "\n=========== Platora Example 0.4 + OSC ===========\n\n";
constexpr const char* separator = "\n--------------------------------------------------------------\n";
constexpr const char* rule = "--------------------------------------------------------------\n";
constexpr int defaultPort = 44444;
constexpr const char* defaultHost = "127.0.0.1";
constexpr float finalScratchCalibration = 1.2f;
constexpr float mixvibesCalibration = 1.07f;

}  // namespace

void printDeviceList(const CaptureController& controller) {
    std::printf("     Devices Name                              DriverType\n");
    std::printf("%s", rule);
    std::string description;
    for (int i = 0; i < controller.deviceCount(); ++i) {
        controller.getDescription(i, description);
        std::printf("%i. %s\n\n", i, description.c_str());
    }
}

int Dialogue::run() {
    try {
        runScreens();
    } catch (const InputEnded&) {
        // Taking an ended input as empty answers would pick the first option everywhere
        // (calibration included, which overwrites the settings file) and ask for ever.
        std::printf("\nThe input ended before the setup was complete; the program stops.\n");
    }
    return 0;
}

void Dialogue::runScreens() {
    std::printf("%s", banner);
    std::fflush(stdout);
    controller = std::make_unique<CaptureController>();
    if (!chooseDevice()) return;
    chooseChannels();
    chooseVinyl();
    chooseRiaa();
    if (!choosePreamp()) return;
    if (!chooseCalibration()) return;
    setUpOsc();
    if (!startStreamAfterSetup()) return;
    stream();
}

bool Dialogue::chooseDevice() {
    const int count = controller->deviceCount();
    if (count == 0) {
        std::printf("Error: No recording device found!\n");
        std::printf("Press <Enter> to quit the application.\n");
        pauseForKey();
        return false;
    }
    printDeviceList(*controller);
    std::printf("%s", separator);
    std::printf("\nPlease select a device:");
    for (;;) {
        const int answer = parseMenuAnswer(readAnswer(menuAnswerLimit));
        if (answer >= 0 && answer < count) {
            deviceIndex = answer;
            return true;
        }
        std::printf("The selected device is invalid!\n Please try again.\n");
    }
}

void Dialogue::chooseChannels() {
    redraw();
    std::printf("Supported input channels\n");
    const int channels = controller->getInputChannels(deviceIndex);
    // Only whole pairs: an odd last channel has no partner.
    const int pairs = channels > 0 ? channels / 2 : 0;
    for (int k = 0; k < pairs; ++k) std::printf("\t%i. Channel %i/%i\n\n", k, 2 * k + 1, 2 * k + 2);
    std::printf("\nPlease select the input channels:");
    for (;;) {
        const int pair = parseMenuAnswer(readAnswer(menuAnswerLimit));
        if (pair >= 0 && pair < pairs) {
            controller->deck(0).setPair(pair);
            channelCount = controller->deck(0).channelsNeeded();
            return;
        }
        std::printf("The selected channels are invalid!\n Please try again.\n");
    }
}

void Dialogue::chooseVinyl() {
    redraw();
    std::printf("Supported vinyls\n\t0. Final Scratch\n\t1. Mixvibes\n\nPlease select the vinyl type:");
    for (;;) {
        const int answer = parseMenuAnswer(readAnswer(menuAnswerLimit));
        if (answer == FinalScratch || answer == Mixvibes) {
            vinylChoice = answer;
            break;
        }
        std::printf("The selected vinyl type is invalid!\n Please try again.\n");
    }
    controller->deck(0).setVinylType(vinylChoice);
    riaaEnabled = false;
    if (vinylChoice == FinalScratch) loadCodeTable();
}

// The table is loaded before any stream starts; without it FinalScratch still runs but
// finds no position.
void Dialogue::loadCodeTable() {
    std::string usedPath;
    std::string error;
    if (!FinalScratchCodeTable::shared().loadDefault(usedPath, error)) {
        codeTableProblem = error +
                           "; to make one, record your record once from start to end (for example arecord -D plughw:1 "
                           "-f cd side.wav) and run platora-table learn side.wav -o finalscratch.table (see the README)"
                           "; FinalScratch positions cannot be decoded";
    }
}

void Dialogue::chooseRiaa() {
    redraw();
    std::printf("0. Enable RIAA correction\n");
    std::printf("1. continue\n");
    if (parseChoice(readAnswer(menuAnswerLimit)) == 0) {
        riaaEnabled = true;
        controller->deck(0).setRiaaEnabled(true);
    }
}

bool Dialogue::choosePreamp() {
    redraw();
    std::printf("0. Enable software preamp\n");
    std::printf("1. continue\n");
    preampEnabled = false;
    if (parseChoice(readAnswer(menuAnswerLimit)) != 0) return true;
    preampEnabled = true;
    if (!openStream()) return false;
    preampReachedTarget = autoAdjustGain(controller->deck(0));
    return true;
}

bool Dialogue::chooseCalibration() {
    redraw();
    calibrationSetting = 0.0f;
    calibrationRan = false;
    if (!loadCalibrationValue(calibrationSetting)) {
        calibrationSetting = vinylChoice == FinalScratch ? finalScratchCalibration : mixvibesCalibration;
    }
    std::printf("0. run calibration\n");
    std::printf("1. use last calibration or default values %.2f\n", static_cast<double>(calibrationSetting));
    if (parseChoice(readAnswer(menuAnswerLimit)) != 0) return true;
    calibrationRan = true;
    if (!preampEnabled && !openStream()) return false;
    calibrationSetting = runCalibration(controller->deck(0), calibrationSetting);
    return true;
}

bool Dialogue::openDevice() {
    return controller->open(static_cast<std::int16_t>(deviceIndex));
}

bool Dialogue::openStream() {
    if (openDevice()) return true;
    std::printf("Couldn't open the audio device. Press any key to quit.");
    pauseForKey();
    return false;
}

void Dialogue::setUpOsc() {
    controller->deck(0).setCalibration(calibrationSetting);
    redraw();
    std::printf("\n\n\nOSC Send setup (UDP):\n\n");
    for (;;) {
        std::printf("\nPort ('enter' for %i): ", defaultPort);
        if (parsePort(readAnswer(portAnswerLimit), defaultPort, port)) break;
        std::printf("The port must be a whole number from 1 to 65535.\n");
    }
    for (;;) {
        std::printf("\nIP Address ('enter' for %s): ", defaultHost);
        host = readAnswer(hostAnswerLimit);
        if (host.empty()) host = defaultHost;
        std::string error;
        if (auto sender = OscSender::create(host.c_str(), port, error)) {
            controller->deck(0).setDestination(std::move(sender));
            break;
        }
        std::printf("%s. Please try again.\n", error.c_str());
    }
    if (!installStopHandler()) std::printf("Unable to install close handler!\n");
}

bool Dialogue::startStreamAfterSetup() {
    if (calibrationRan || preampEnabled) return true;
    if (openDevice()) return true;
    std::printf("Initialization failed!\n Press any key to quit.");
    pauseForKey();
    return false;
}

void Dialogue::stream() {
    clearScreen();
    std::printf("%s", banner);
    printStatus();
    std::printf("> with a calibration value of: %.2f\n", static_cast<double>(calibrationSetting));
    std::printf("> Streaming OSC data to %s:%i\n\n", host.c_str(), port);
    std::printf("%s", separator);
    std::printf("\nOSC Streaming running...\n");
    std::fflush(stdout);
    StreamingChoices choices;
    choices.deviceIndex = static_cast<std::int16_t>(deviceIndex);
    streamDecks(*controller, choices);
    // The stream stops before the deck, and with it the sender, goes.
    controller.reset();
}

void Dialogue::redraw() {
    clearScreen();
    std::printf("%s", banner);
    printStatus();
    std::printf("%s", separator);
}

void Dialogue::printStatus() {
    if (deviceIndex < 0) return;
    controller->getDescription(deviceIndex, description);
    std::printf("%s\n", description.c_str());
    if (channelCount == 0) return;
    std::printf("> using input Channels %i/%i\n", channelCount - 1, channelCount);
    if (vinylChoice < 0) return;
    std::printf(vinylChoice == FinalScratch ? "> using vinyl type: FinalScratch\n" : "> using vinyl type: Mixvibes\n");
    if (!codeTableProblem.empty()) std::printf("> %s\n", codeTableProblem.c_str());
    if (riaaEnabled) std::printf("> using RIAA correction\n");
    if (preampEnabled) {
        std::printf("> using software preamp\n");
        if (!preampReachedTarget) std::printf("> no signal reached the target level; the preamp stays at gain 1\n");
    }
}

}  // namespace platora
