#pragma once

#include <osc/OscPacketListener.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace platora {

// Keeps the latest of the four values each deck sends and shows them on `out`, rewritten in
// place at most every `refresh`: one line while a single deck arrives on a single port, else
// a line per deck, a deck being a port and the address prefix before "/scratch/". Messages
// with other addresses, or without one float argument, are counted as ignored; a malformed
// datagram is dropped. Runs on the receiving sockets' one thread only.
class ScratchMonitor {
public:
    static constexpr std::chrono::milliseconds defaultRefresh{100};

    ScratchMonitor(std::FILE* out, std::vector<int> ports, std::chrono::milliseconds refresh = defaultRefresh);

    // What the socket of ports[index] hands its datagrams to.
    osc::OscPacketListener& listener(std::size_t index) { return listeners[index]; }

    // Shows the lines now, whatever the refresh interval says.
    void show();

private:
    class PortListener : public osc::OscPacketListener {
    public:
        PortListener(ScratchMonitor& monitor, int port) : monitor(monitor), port(port) {}
        void ProcessPacket(const char* data, int size, const IpEndpointName& remoteEndpoint) override;

    protected:
        void ProcessMessage(const osc::ReceivedMessage& message, const IpEndpointName& remoteEndpoint) override;

    private:
        ScratchMonitor& monitor;
        int port;
    };

    struct Deck {
        int port = 0;
        std::string prefix;
        // Position (s), speed (percent), timecodes per second, volume (full scale 1.0).
        std::array<float, 4> values{};
        std::uint64_t received = 0;
    };

    void take(int port, const osc::ReceivedMessage& message);
    Deck& deck(int port, const std::string& prefix);
    std::string line(const Deck& deck, bool labelled) const;
    void showWhenDue();

    std::FILE* out;
    std::vector<int> ports;
    std::deque<PortListener> listeners;  // they do not move
    std::chrono::milliseconds refresh;
    std::chrono::steady_clock::time_point lastShown{};
    std::vector<Deck> decks;  // in the order they first arrived
    std::uint64_t ignored = 0;
    std::size_t linesDrawn = 0;
};

}  // namespace platora
