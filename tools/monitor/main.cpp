// platora-monitor [PORT...]: shows the position, speed, timecodes per second and volume that
// Platora sends over OSC, a line per deck rewritten in place, until Ctrl-C.
#include "CommandLineConventions.h"
#include "ScratchMessages.h"
#include "ScratchMonitor.h"
#include "StrictNumbers.h"

#include <ip/UdpSocket.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int lowestPort = 1;
constexpr int highestPort = 65535;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Shows the position, speed, timecodes per second and volume that Platora sends over OSC.",
                 "platora-monitor");
    platora::addVersionFlag(app);
    std::vector<int> ports{platora::defaultOscPort};
    app.add_option("PORT", ports, "UDP ports to listen on, a deck's line for each deck that sends")
        ->check(platora::wholeNumber(lowestPort, highestPort))
        ->capture_default_str();
    if (const int status = platora::parseCommandLine(app, argc, argv); status != platora::goOn) return status;
    platora::ScratchMonitor monitor(stdout, ports);
    SocketReceiveMultiplexer multiplexer;
    std::vector<std::unique_ptr<UdpListeningReceiveSocket>> sockets;
    std::string listening;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        try {
            sockets.push_back(std::make_unique<UdpListeningReceiveSocket>(
                IpEndpointName(IpEndpointName::ANY_ADDRESS, ports[i]), &monitor.listener(i)));
        } catch (const std::runtime_error& error) {
            std::string why = error.what();
            if (!why.empty() && why.back() == '\n') why.pop_back();
            std::fprintf(stderr, "platora-monitor: cannot listen on UDP port %d: %s\n", ports[i], why.c_str());
            return 1;
        }
        multiplexer.AttachSocketListener(sockets.back().get(), &monitor.listener(i));
        listening += (i == 0 ? "" : ", ") + std::to_string(ports[i]);
    }
    std::printf("Listening for OSC on UDP port%s %s; Ctrl-C to stop.\n", ports.size() > 1 ? "s" : "",
                listening.c_str());
    monitor.show();
    multiplexer.RunUntilSigInt();
    monitor.show();
    std::printf("\n");
    return 0;
}
