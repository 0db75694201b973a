#include "ScratchMonitor.h"

#include <osc/OscReceivedElements.h>

#include <cstring>

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
    if (std::strcmp(address, "/scratch/pos") == 0) {
        position = value;
    } else if (std::strcmp(address, "/scratch/speed") == 0) {
        speedPercent = value;
    } else if (std::strcmp(address, "/scratch/TPS") == 0) {
        timecodesPerSecond = value;
    } else if (std::strcmp(address, "/scratch/vol") == 0) {
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

void ScratchMonitor::show() {
    // Carriage return and fixed widths: each line covers the one before, within 80 columns.
    std::fprintf(out, "\rpos %10.4f s | speed %7.2f %% | TPS %4.0f | vol %6.4f | %9llu msgs",
                 static_cast<double>(position), static_cast<double>(speedPercent),
                 static_cast<double>(timecodesPerSecond), static_cast<double>(volume),
                 static_cast<unsigned long long>(received));
    if (ignored > 0) std::fprintf(out, ", %llu ignored", static_cast<unsigned long long>(ignored));
    std::fflush(out);
}

}  // namespace platora
