#pragma once

#include "ScratchMessages.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

class UdpTransmitSocket;

namespace platora {

// Sends single-float OSC messages to one host and port, one per UDP datagram or several as
// one bundle.
//
// Threads: one thread only. Every send formats its message in one static buffer shared
// by all senders, so two senders must not send from different threads either.
class OscSender {
public:
    // host: a host name or a dotted IPv4 address, resolved to IPv4 here and only here.
    // Returns nullptr and sets error to one line (no line end) when the port is outside
    // 1..65535, the host cannot be resolved or is the limited broadcast address, or the
    // socket cannot be created or connected. Throws nothing.
    static std::unique_ptr<OscSender> create(const char* host, int port, std::string& error);

    virtual ~OscSender();

    OscSender(const OscSender&) = delete;
    OscSender& operator=(const OscSender&) = delete;

    // One message with one float32 argument. Allocates nothing and throws nothing; a failed
    // send is not reported, and an address longer than 71 characters (the message would not
    // fit the 80-byte buffer) sends nothing.
    void sendFloat(const char* address, float value);

    // The messages as one OSC bundle with this timetag, in one datagram. Allocates nothing and
    // throws nothing; sends nothing when the bundle would not fit 512 bytes (five messages of
    // the longest address sendFloat takes fit).
    void sendBundle(std::uint64_t timetag, std::span<const ScratchMessage> messages);

    // Immediately, in OSC's words: the timetag 1.
    static constexpr std::uint64_t immediately = 1;

private:
    explicit OscSender(std::unique_ptr<UdpTransmitSocket> connectedSocket);

    std::unique_ptr<UdpTransmitSocket> socket;
};

// An OSC timetag (NTP format: seconds since 1900 in the high 32 bits, their fraction in the
// low 32) for a time of the system clock.
std::uint64_t oscTimetag(std::chrono::system_clock::time_point time);

}  // namespace platora
