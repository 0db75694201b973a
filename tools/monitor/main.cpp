// platora-monitor [PORT]: shows the position, speed, timecodes per second and volume that
// Platora sends over OSC, on one line rewritten in place, until Ctrl-C.
#include "CommandLineConventions.h"
#include "ScratchMessages.h"
#include "ScratchMonitor.h"
#include "StrictNumbers.h"

#include <ip/UdpSocket.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

constexpr int lowestPort = 1;
constexpr int highestPort = 65535;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Shows the position, speed, timecodes per second and volume that Platora sends over OSC.",
                 "platora-monitor");
    platora::addVersionFlag(app);
    int port = platora::defaultOscPort;
    app.add_option("PORT", port, "UDP port to listen on")
        ->check(platora::wholeNumber(lowestPort, highestPort))
        ->capture_default_str();
    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
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
