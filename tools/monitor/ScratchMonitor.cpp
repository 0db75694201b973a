#include "ScratchMonitor.h"

#include "ScratchMessages.h"

#include <osc/OscReceivedElements.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace platora {

ScratchMonitor::ScratchMonitor(std::FILE* out, std::chrono::milliseconds refresh) : out(out), refresh(refresh) {}

void ScratchMonitor::ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) {
    // oscpack throws from here for a datagram that is not OSC; one stray packet must not end the monitor.
    try {
        osc::OscPacketListener::ProcessPacket(data, size, remoteEndpoint);
    } catch (const osc::Exception&) {
        ++ignored;
    }
    showWhenDue();
}

void ScratchMonitor::ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName&) {
    float value = 0.0f;
    try {
        if (message.ArgumentCount() != 1) {
            ++ignored;
            return;
        }
        value = message.ArgumentsBegin()->AsFloat();
    } catch (const osc::Exception&) {
        ++ignored;
        return;
    }
    const char* address = message.AddressPattern();
    if (std::strcmp(address, positionAddress) == 0) {
        position = value;
    } else if (std::strcmp(address, speedAddress) == 0) {
        speedPercent = value;
    } else if (std::strcmp(address, timecodesPerSecondAddress) == 0) {
        timecodesPerSecond = value;
    } else if (std::strcmp(address, volumeAddress) == 0) {
        volume = value;
    } else {
        ++ignored;
        return;
    }
    ++received;
}

void ScratchMonitor::showWhenDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastShown < refresh) return;
    lastShown = now;
    show();
}

namespace {

// `value` in `width` columns with `decimals` places, or in exponent form where that would not
// fit (any float may arrive), so the line keeps its length.
std::string field(float value, int width, int decimals) {
    char text[64];
    if (std::snprintf(text, sizeof text, "%*.*f", width, decimals, static_cast<double>(value)) > width)
        std::snprintf(text, sizeof text, "%*.*g", width, std::max(width - 6, 1), static_cast<double>(value));
    return text;
}

}  // namespace

void ScratchMonitor::show() {
    // Carriage return and fixed widths: each line covers the one before, within 80 columns.
    std::fprintf(out, "\rpos %s s | speed %s %% | TPS %s | vol %s | %9llu msgs", field(position, 10, 4).c_str(),
                 field(speedPercent, 7, 2).c_str(), field(timecodesPerSecond, 4, 0).c_str(),
                 field(volume, 6, 4).c_str(), static_cast<unsigned long long>(received));
    if (ignored > 0) std::fprintf(out, ", %llu ignored", static_cast<unsigned long long>(ignored));
    std::fflush(out);
}

}  // namespace platora
