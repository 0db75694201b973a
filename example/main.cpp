#include "Dialogue.h"
#include "Stage.h"
#include "StageCommandLine.h"

#include <cstdio>

namespace {

int listDevices() {
    const platora::CaptureController controller;
    if (controller.deviceCount() == 0) {
        std::printf("No recording device found.\n");
    } else {
        platora::printDeviceList(controller);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const platora::StageCommand command = platora::readStageCommand(argc, argv);
    switch (command.request) {
    case platora::StageRequest::dialogue: {
        platora::Dialogue dialogue;
        return dialogue.run();
    }
    case platora::StageRequest::listDevices:
        return listDevices();
    case platora::StageRequest::stream:
        return platora::runStage(command.settings);
    case platora::StageRequest::done:
        break;
    }
    return command.exitStatus;
}
