#pragma once

#include <RtAudio.h>

#include <cstdint>
#include <string>

namespace platora {

// The API names shown to the user number the APIs as RtAudio 3 did; RtAudio 5 numbers
// them differently.
namespace apiId {
inline constexpr std::int32_t unspecified = 0;
inline constexpr std::int32_t linuxAlsa = 1;
inline constexpr std::int32_t linuxOss = 2;
inline constexpr std::int32_t linuxJack = 3;
inline constexpr std::int32_t macosxCore = 4;
inline constexpr std::int32_t irixAl = 5;
inline constexpr std::int32_t windowsAsio = 6;
inline constexpr std::int32_t windowsDs = 7;
}  // namespace apiId

// The displayed identifier of an RtAudio 5 API; APIs without one give apiId::unspecified.
std::int32_t apiIdentifier(RtAudio::Api api);

// "LINUX_JACK" and the like; "UNSPECIFIED" for any identifier not in the table.
std::string apiName(std::int32_t identifier);

// The widest native format in the mask, e.g. "RTAUDIO_FLOAT32"; "Unknown" when none is set.
std::string formatName(std::uint32_t formatMask);

// Two lines without a final line break: name padded to 40 and the API name, then
// channels, widest format and highest rate. Names of any length are written whole.
std::string describeDevice(const RtAudio::DeviceInfo& info, std::int32_t identifier);

}  // namespace platora
