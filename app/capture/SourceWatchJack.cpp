#include "AudioPlatform.h"

#include <jack/jack.h>

#include <cstdio>
#include <vector>

namespace platora {

namespace {

// The names RtAudio gives a JACK stream's input ports.
std::string inputPortName(const std::string& clientName, int channel) {
    return clientName + ":inport " + std::to_string(channel);
}

void quiet(const char*) {}

constexpr int maxNumberedClients = 100;

// Whether a port of the source client is connected to this port.
bool feeds(jack_client_t* client, const std::string& sourceName, const std::string& portName) {
    jack_port_t* port = jack_port_by_name(client, portName.c_str());
    if (port == nullptr) return false;
    const char** connections = jack_port_get_all_connections(client, port);
    bool found = false;
    const std::string prefix = sourceName + ":";
    for (const char** other = connections; other != nullptr && *other != nullptr && !found; ++other)
        found = std::string(*other).rfind(prefix, 0) == 0;
    jack_free(static_cast<void*>(connections));
    return found;
}

}  // namespace

// A client of its own that never activates and has no ports: no patchbay shows it, and it
// needs no thread of the server's.
struct SourceWatch::Jack {
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;

    Jack() {
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        client = jack_client_open("platora-watch", JackNoStartServer, nullptr);
    }
    ~Jack() {
        if (client) jack_client_close(client);
    }
    Jack(const Jack&) = delete;
    Jack& operator=(const Jack&) = delete;
};

SourceWatch::SourceWatch() = default;
SourceWatch::~SourceWatch() = default;

void SourceWatch::follow(RtAudio::Api api, const std::string& clientName, const std::string& sourceName, int channels) {
    stop();
    if (api != RtAudio::UNIX_JACK) return;
    // Opened afresh for each stream, once it runs: the server of the last one may have gone.
    jack = std::make_unique<Jack>();
    if (!jack->client) return;
    // A name taken already, JACK gives ours a number: the one whose first port the source feeds.
    for (int number = 0; number < maxNumberedClients && jack->ports.empty(); ++number) {
        char suffix[16] = "";
        if (number > 0) std::snprintf(suffix, sizeof suffix, "-%02d", number);
        if (feeds(jack->client, sourceName, inputPortName(clientName + suffix, 0)))
            for (int channel = 0; channel < channels; ++channel)
                jack->ports.push_back(
                    jack_port_by_name(jack->client, inputPortName(clientName + suffix, channel).c_str()));
    }
}

void SourceWatch::stop() { jack.reset(); }

bool SourceWatch::connected() const {
    if (!jack) return true;
    // Without a watch client, or our ports not found, nothing can be told: the stream's own state decides.
    if (!jack->client || jack->ports.empty()) return true;
    for (jack_port_t* port : jack->ports)
        if (port == nullptr || jack_port_connected(port) == 0) return false;
    return true;
}

}  // namespace platora
