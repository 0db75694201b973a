#include "HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace platora {

bool resolveIpv4(const char* host, std::uint32_t& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(host, nullptr, &hints, &found);
    if (result != 0) {
        error = std::string("Unable to resolve host \"") + host + "\": " + gai_strerror(result);
        return false;
    }
    address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return true;
}

}  // namespace platora
