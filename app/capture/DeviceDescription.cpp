#include "DeviceDescription.h"

#include <cstdio>

namespace platora {

std::int32_t apiIdentifier(RtAudio::Api api) {
    switch (api) {
        case RtAudio::LINUX_ALSA:
            return apiId::linuxAlsa;
        case RtAudio::LINUX_OSS:
            return apiId::linuxOss;
        case RtAudio::UNIX_JACK:
            return apiId::linuxJack;
        case RtAudio::MACOSX_CORE:
            return apiId::macosxCore;
        case RtAudio::WINDOWS_ASIO:
            return apiId::windowsAsio;
        case RtAudio::WINDOWS_DS:
            return apiId::windowsDs;
        default:
            return apiId::unspecified;
    }
}

std::string apiName(std::int32_t identifier) {
    switch (identifier) {
        case apiId::linuxAlsa:
            return "LINUX_ALSA";
        case apiId::linuxOss:
            return "LINUX_OSS";
        case apiId::linuxJack:
            return "LINUX_JACK";
        case apiId::macosxCore:
            return "MACOSX_CORE";
        case apiId::irixAl:
            return "IRIX_AL";
        case apiId::windowsAsio:
            return "WINDOWS_ASIO";
        case apiId::windowsDs:
            return "WINDOWS_DS";
        default:
            return "UNSPECIFIED";
    }
}

std::string formatName(std::uint32_t formatMask) {
    // Widest first: the first bit set names the format.
    if (formatMask & RTAUDIO_FLOAT64) return "RTAUDIO_FLOAT64";
    if (formatMask & RTAUDIO_FLOAT32) return "RTAUDIO_FLOAT32";
    if (formatMask & RTAUDIO_SINT32) return "RTAUDIO_SINT32";
    if (formatMask & RTAUDIO_SINT24) return "RTAUDIO_SINT24";
    if (formatMask & RTAUDIO_SINT16) return "RTAUDIO_SINT16";
    if (formatMask & RTAUDIO_SINT8) return "RTAUDIO_SINT8";
    return "Unknown";
}

std::string describeDevice(const RtAudio::DeviceInfo& info, std::int32_t identifier) {
    static constexpr const char* layout = "%-40s %s\n  %i input channels | %10s | highest freq: %i hz";
    const std::string api = apiName(identifier);
    const std::string format = formatName(static_cast<std::uint32_t>(info.nativeFormats));
    const int channels = static_cast<int>(info.inputChannels);
    const int highestRate = info.sampleRates.empty() ? 0 : static_cast<int>(info.sampleRates.back());

    // Measured first, so a name of any length is written whole.
    const int length =
        std::snprintf(nullptr, 0, layout, info.name.c_str(), api.c_str(), channels, format.c_str(), highestRate);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, layout, info.name.c_str(), api.c_str(), channels, format.c_str(),
                  highestRate);
    return text;
}

}  // namespace platora
