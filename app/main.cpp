#include "ConsoleControl.h"
#include "Dialogue.h"
#include "CommandLine.h"
#include "Streaming.h"

#include <cstdio>

namespace {

int listDevices() {
    const platora::CaptureController controller;
    if (controller.deviceCount() == 0) {
        std::printf("No recording device found: %s\n", platora::noDeviceHint);
    } else {
        platora::printDeviceList(controller);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const platora::CommandLine command = platora::readCommandLine(argc, argv);
    // Every deck decodes FinalScratch with this table; it outlives them all.
    platora::ProgramCodeTable codeTable;
    switch (command.request) {
        case platora::ProgramRequest::dialogue: {
            platora::Dialogue dialogue(codeTable);
            return dialogue.run();
        }
        case platora::ProgramRequest::listDevices:
            return listDevices();
        case platora::ProgramRequest::stream: {
            // First: a stop signal at any moment ends the program with status 0.
            platora::installStopHandlerOrWarn();
            platora::CaptureController controller;
            std::string error;
            if (!platora::openDecks(controller, command.settings, codeTable, error))
                return platora::reportFailure(error);
            return platora::stream(controller, command.settings);
        }
        case platora::ProgramRequest::done:
            break;
    }
    return command.exitStatus;
}
