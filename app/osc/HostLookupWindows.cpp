#include "HostLookup.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace platora {

namespace {

// Every Winsock call fails before WSAStartup; oscpack starts it only for its sockets, which
// come after the lookup. Started once and left running until the process ends.
bool winsockStarted() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

bool resolveIpv4(const char* host, std::uint32_t& address, std::string& error) {
    if (!winsockStarted()) {
        error = "Unable to start Windows sockets (WSAStartup failed)";
        return false;
    }
    // Windows would resolve an empty name to this machine; elsewhere it names no host.
    if (*host == '\0') {
        error = "Unable to resolve host \"\": no host name given";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0) {
        error = std::string("Unable to resolve host \"") + host + "\": " + gai_strerrorA(result);
        // Windows' messages end in a line break.
        while (!error.empty() && (error.back() == '\n' || error.back() == '\r' || error.back() == ' '))
            error.pop_back();
        return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace platora
