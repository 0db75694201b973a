#pragma once

#include "CaptureController.h"
#include "OscSender.h"
#include "VinylType.h"

#include <memory>
#include <string>

namespace platora {

// The numbered device list of the dialogue's first screen, under its heading.
void printDeviceList(const CaptureController& controller);

// The program's whole user interface: a fixed sequence of screens from the device list
// to the streaming loop. Main thread only; run() returns the program's exit status, 0 on
// every path.
class Dialogue {
public:
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

    bool openDevice();
    bool openStream();  // at the preamp or calibration step; a failure ends the program
    void redraw();
    void printStatus();
    void loadCodeTable();

    std::unique_ptr<CaptureController> controller;
    std::string description;
    int deviceIndex = -1;
    int channelCount = 0;  // 2n + 2 for channel pair n: the stream's channels
    int vinylChoice = -1;
    bool riaaEnabled = false;
    bool preampEnabled = false;
    bool preampReachedTarget = true;
    bool calibrationRan = false;
    float calibrationSetting = 0.0f;
    std::string codeTableProblem;  // empty unless FinalScratch positions cannot be decoded
    int port = 0;
    std::string host;
};

}  // namespace platora
