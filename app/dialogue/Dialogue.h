#pragma once

#include "CaptureController.h"
#include "StreamSettings.h"
#include "Streaming.h"

#include <memory>
#include <string>

namespace platora {

// The numbered device list of the dialogue's first screen, under its heading.
void printDeviceList(const CaptureController& controller);

// The program's whole user interface: a fixed sequence of screens from the device list
// to the streaming loop, filling the settings every front end streams from. Main thread
// only; run() returns the program's exit status, 0 on every path. The code table must
// outlive the dialogue.
class Dialogue {
public:
    explicit Dialogue(ProgramCodeTable& codeTable) : codeTable(codeTable) {}
    int run();

private:
    void runScreens();  // throws InputEnded when standard input ends
    bool chooseDevice();
    void chooseChannels();
    void chooseVinyl();
    void chooseRiaa();
    bool choosePreamp();
    bool chooseCalibration();
    void setUpOsc();
    bool startStreamAfterSetup();
    void stream();

    // Prepares the decks and opens the device; on failure tells why, then `failure`, and waits for a key.
    bool openDevice(const char* failure);
    bool openStream();  // at the preamp or calibration step; a failure ends the program
    void redraw();
    void printStatus();
    DeckSettings& deck() { return settings.decks.front(); }

    ProgramCodeTable& codeTable;
    std::unique_ptr<CaptureController> controller;
    StreamSettings settings;  // one deck once the channels are chosen
    std::string description;
    int deviceIndex = -1;
    bool vinylChosen = false;
    bool preampEnabled = false;
    bool preampReachedTarget = true;
    bool calibrationRan = false;
};

}  // namespace platora
