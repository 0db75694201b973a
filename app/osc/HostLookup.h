#pragma once

#include <cstdint>
#include <string>

namespace platora {

// Resolves a host name or dotted address to one IPv4 address in host byte order. False,
// with error set to one line naming the host and the resolver's reason, when it cannot.
// Starts the platform's socket library first where it needs starting (Winsock).
bool resolveIpv4(const char* host, std::uint32_t& address, std::string& error);

}  // namespace platora
