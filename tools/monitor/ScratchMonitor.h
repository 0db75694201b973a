#pragma once

#include <osc/OscPacketListener.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace platora {

// Keeps the latest of the four values Platora sends and shows them on one line of `out`,
// rewritten in place at most every `refresh`. Messages with other addresses, or without one
// float argument, are counted as ignored; a malformed datagram is dropped.
// Runs on the receiving socket's thread only.
class ScratchMonitor : public osc::OscPacketListener {
public:
    static constexpr std::chrono::milliseconds defaultRefresh{100};

    explicit ScratchMonitor(std::FILE* out, std::chrono::milliseconds refresh = defaultRefresh);

    void ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) override;

    // Shows the line now, whatever the refresh interval says.
    void show();

protected:
    void ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint) override;

private:
    void showWhenDue();

    std::FILE* out;
    std::chrono::milliseconds refresh;
    std::chrono::steady_clock::time_point lastShown{};
    float position = 0.0f;  // s
    float speedPercent = 0.0f;
    float timecodesPerSecond = 0.0f;
    float volume = 0.0f;  // full scale 1.0
    std::uint64_t received = 0;
    std::uint64_t ignored = 0;
};

}  // namespace platora
