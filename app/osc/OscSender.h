#pragma once

#include <memory>
#include <string>

class UdpTransmitSocket;

namespace platora {

// Sends single-float OSC messages, one per UDP datagram, to one host and port.
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

private:
    explicit OscSender(std::unique_ptr<UdpTransmitSocket> connectedSocket);

    std::unique_ptr<UdpTransmitSocket> socket;
};

}  // namespace platora
