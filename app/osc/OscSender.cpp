#include "OscSender.h"

#include "HostLookup.h"
#include "ScratchMessages.h"

#include <ip/IpEndpointName.h>
#include <ip/UdpSocket.h>
#include <osc/OscOutboundPacketStream.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace platora {

namespace {

constexpr std::size_t sendBufferBytes = 80;
constexpr std::size_t bundleBufferBytes = 512;

// Shared by every send: a message is built and sent before the next one starts.
char sendBuffer[sendBufferBytes];
char bundleBuffer[bundleBufferBytes];

// From 1900, NTP's era, to 1970, the system clock's.
constexpr std::uint64_t secondsFrom1900To1970 = 2208988800u;
constexpr int fractionBits = 32;

// oscpack reads 255.255.255.255 as "any address" and would send to this host instead.
constexpr std::uint32_t limitedBroadcastAddress = 0xFFFFFFFFu;

std::string withoutTrailingLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::unique_ptr<OscSender> OscSender::create(const char* host, int port, std::string& error) {
    if (port < lowestPort || port > highestPort) {
        error = "Port " + std::to_string(port) + " is out of range (" + std::to_string(lowestPort) + " to " +
                std::to_string(highestPort) + ")";
        return nullptr;
    }
    std::uint32_t address = 0;
    if (!resolveIpv4(host, address, error)) {
        return nullptr;
    }
    if (address == limitedBroadcastAddress) {
        error = std::string("Unable to send to ") + host + ": broadcast is not supported";
        return nullptr;
    }
    try {
        const IpEndpointName destination(static_cast<unsigned long>(address), port);
        return std::unique_ptr<OscSender>(new OscSender(std::make_unique<UdpTransmitSocket>(destination)));
    } catch (const std::runtime_error& socketError) {
        error = std::string("Unable to send to ") + host + ":" + std::to_string(port) + ": " +
                withoutTrailingLineEnd(socketError.what());
        return nullptr;
    }
}

OscSender::OscSender(std::unique_ptr<UdpTransmitSocket> connectedSocket) : socket(std::move(connectedSocket)) {}

OscSender::~OscSender() = default;

void OscSender::sendFloat(const char* address, float value) {
    try {
        osc::OutboundPacketStream stream(sendBuffer, sendBufferBytes);
        stream << osc::BeginMessage(address) << value << osc::EndMessage;
        socket->Send(stream.Data(), stream.Size());
    } catch (const osc::OutOfBufferMemoryException&) {
        // Only an address too long for the buffer gets here; the message is dropped like a failed send.
    }
}

void OscSender::sendBundle(std::uint64_t timetag, std::span<const ScratchMessage> messages) {
    try {
        osc::OutboundPacketStream stream(bundleBuffer, bundleBufferBytes);
        stream << osc::BeginBundle(timetag);
        for (const ScratchMessage& message : messages)
            stream << osc::BeginMessage(message.address) << message.value << osc::EndMessage;
        stream << osc::EndBundle;
        socket->Send(stream.Data(), stream.Size());
    } catch (const osc::OutOfBufferMemoryException&) {
        // Dropped like a failed send.
    }
}

std::uint64_t oscTimetag(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<nanoseconds>(time.time_since_epoch());
    const auto whole = floor<seconds>(sinceEpoch);
    const auto fraction = (static_cast<std::uint64_t>((sinceEpoch - whole).count()) << fractionBits) /
                          static_cast<std::uint64_t>(nanoseconds(seconds(1)).count());
    return ((static_cast<std::uint64_t>(whole.count()) + secondsFrom1900To1970) << fractionBits) | fraction;
}

}  // namespace platora
