// platora-monitor [PORT]: shows the position, speed, timecodes per second and volume that
// Platora sends over OSC, on one line rewritten in place, until Ctrl-C.
#include "ScratchMonitor.h"

#include <ip/UdpSocket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

constexpr int defaultPort = 44444;  // where Platora sends unless told otherwise
constexpr long lowestPort = 1;
constexpr long highestPort = 65535;

bool parsePort(const char* text, int& port) {
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < lowestPort || value > highestPort) return false;
    port = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int port = defaultPort;
    if (argc > 2 || (argc == 2 && !parsePort(argv[1], port))) {
        std::fprintf(stderr, "usage: platora-monitor [PORT]   (UDP port 1..65535, default %d)\n", defaultPort);
        return 2;
    }
    platora::ScratchMonitor monitor(stdout);
    try {
        UdpListeningReceiveSocket socket(IpEndpointName(IpEndpointName::ANY_ADDRESS, port), &monitor);
        std::printf("Listening for OSC on UDP port %d; Ctrl-C to stop.\n", port);
        monitor.show();
        socket.RunUntilSigInt();
    } catch (const std::runtime_error& error) {
        std::string why = error.what();
        if (!why.empty() && why.back() == '\n') why.pop_back();
        std::fprintf(stderr, "platora-monitor: cannot listen on UDP port %d: %s\n", port, why.c_str());
        return 1;
    }
    monitor.show();
    std::printf("\n");
    return 0;
}
