#include "Dialogue.h"

#include "Answers.h"
#include "ConsoleControl.h"
#include "GainAndCalibration.h"
#include "OscSender.h"
#include "SavedCalibration.h"

#include <cstdio>

namespace platora {

namespace {

// Pinned as users and their scripts know it, old name and version included.
constexpr const char* banner = "\n=========== Platora Example 0.4 + OSC ===========\n\n";
constexpr const char* separator = "\n--------------------------------------------------------------\n";
constexpr const char* rule = "--------------------------------------------------------------\n";

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
    if (!installSetupStopHandler()) std::printf("Unable to install close handler!\n");
    std::printf("%s", banner);
    std::fflush(stdout);
    controller = std::make_unique<CaptureController>();
    settings.report = StreamReport::dialogue;
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
        std::printf("Check: %s\n", noDeviceHint);
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
            // Said now, not after every question: the device would not open.
            if (std::string error; !controller->canStream(answer, error)) {
                std::printf("This device cannot stream: %s.\n Please select a device:", error.c_str());
                continue;
            }
            deviceIndex = answer;
            settings.device = std::to_string(answer);
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
            settings.decks = {DeckSettings{}};
            settings.decks[0].pair = pair;
            return;
        }
        std::printf("The selected channels are invalid!\n Please try again.\n");
    }
}

void Dialogue::chooseVinyl() {
    redraw();
    std::printf("Supported vinyls\n\t0. Final Scratch\n\t1. Mixvibes\n");
    for (const VinylFormat& format : vinylFormats)
        if (format.type > Mixvibes) std::printf("\t%d. %s\n", static_cast<int>(format.type), format.name);
    std::printf("\nPlease select the vinyl type:");
    for (;;) {
        const int answer = parseMenuAnswer(readAnswer(menuAnswerLimit));
        if (answer >= 0 && answer < vinylTypeCount) {
            deck().vinyl = static_cast<VinylType>(answer);
            vinylChosen = true;
            break;
        }
        std::printf("The selected vinyl type is invalid!\n Please try again.\n");
    }
    settings.riaa = false;
    // Before any stream starts; without it FinalScratch still runs but finds no position.
    // The status tells what came of it.
    std::string error;
    if (deck().vinyl == FinalScratch) codeTable.load(error);
}

void Dialogue::chooseRiaa() {
    redraw();
    std::printf("0. Enable RIAA correction\n");
    std::printf("1. continue\n");
    if (parseChoice(readAnswer(menuAnswerLimit)) == 0) settings.riaa = true;
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
    settings.preamp = PreampMode::fixed;  // at the gain found
    settings.preampGain = controller->deck(0).preampGain();
    return true;
}

bool Dialogue::chooseCalibration() {
    redraw();
    calibrationRan = false;
    settings.calibration = CalibrationSource::value;
    float& value = settings.calibrationValue;
    if (!loadCalibrationValue(value)) value = vinylFormat(deck().vinyl).defaultCalibration;
    std::printf("0. run calibration\n");
    std::printf("1. use last calibration or default values %.2f\n", static_cast<double>(value));
    if (parseChoice(readAnswer(menuAnswerLimit)) != 0) return true;
    calibrationRan = true;
    // The value is faithful mode's (robust mode finds the levels itself), so the sweep
    // decodes faithfully; streaming opens anew in the mode asked.
    const DecodingMode streamingMode = settings.decoding;
    settings.decoding = DecodingMode::faithful;
    const bool opened = openStream();
    settings.decoding = streamingMode;
    if (!opened) return false;
    value = runCalibration(controller->deck(0), value);
    return true;
}

bool Dialogue::openDevice(const char* failure) {
    std::string error;
    if (openDecks(*controller, settings, codeTable, error)) return true;
    // The library's own line: the device and its channels came from the dialogue's lists.
    std::printf("%s\n", controller->openError().c_str());
    std::printf("%s", failure);
    pauseForKey();
    return false;
}

bool Dialogue::openStream() { return openDevice("Couldn't open the audio device. Press any key to quit."); }

void Dialogue::setUpOsc() {
    redraw();
    std::printf("\n\n\nOSC Send setup (UDP):\n\n");
    for (;;) {
        std::printf("\nPort ('enter' for %i): ", defaultOscPort);
        if (parsePort(readAnswer(portAnswerLimit), defaultOscPort, deck().port)) break;
        std::printf("The port must be a whole number from 1 to 65535.\n");
    }
    for (;;) {
        std::printf("\nIP Address ('enter' for %s): ", defaultOscHost);
        settings.host = readAnswer(hostAnswerLimit);
        if (settings.host.empty()) settings.host = defaultOscHost;
        // Asked again until the host resolves; streaming then sends to it.
        std::string error;
        if (OscSender::create(settings.host.c_str(), deck().port, error)) break;
        std::printf("%s. Please try again.\n", error.c_str());
    }
    installStopHandlerOrWarn();
}

bool Dialogue::startStreamAfterSetup() {
    if (!calibrationRan && preampEnabled) return true;
    return openDevice("Initialization failed!\n Press any key to quit.");
}

void Dialogue::stream() {
    clearScreen();
    std::printf("%s", banner);
    printStatus();
    std::printf("> with a calibration value of: %.2f\n", static_cast<double>(settings.calibrationValue));
    std::printf("> Streaming OSC data to %s:%i\n\n", settings.host.c_str(), deck().port);
    std::printf("%s", separator);
    std::printf("\nOSC Streaming running...\n");
    std::fflush(stdout);
    platora::stream(*controller, settings);
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
    if (settings.decks.empty()) return;
    std::printf("> using input Channels %i/%i\n", 2 * deck().pair + 1, 2 * deck().pair + 2);
    if (!vinylChosen) return;
    std::printf("> using vinyl type: %s\n", vinylFormat(deck().vinyl).name);
    if (deck().vinyl == FinalScratch && codeTable.lookedFor()) {
        std::string error;
        std::printf("> %s\n", codeTable.load(error) ? codeTable.inUse().c_str() : error.c_str());
    }
    if (settings.riaa) std::printf("> using RIAA correction\n");
    if (preampEnabled) {
        std::printf("> using software preamp\n");
        if (!preampReachedTarget)
            std::printf("> no signal reached the target level; the preamp stays at gain 1\n");
        else
            std::printf("> software preamp gain: %d\n", controller->deck(0).preampGain());
    }
}

}  // namespace platora
