#pragma once

#include <cstdint>
#include <string>

namespace platora {

// One listed input device, as the controller needs it to open the device again.
struct DeviceEntry {
    std::int32_t api;            // RtAudio's own RtAudio::Api value of the scan that found it
    std::int32_t device;         // RtAudio's device number within that API (counted from 0)
    std::int32_t inputChannels;  // at least 2
    std::string name;            // devices come and go (JACK clients): the number is checked against it at open
};

}  // namespace platora
