#include "OscSender.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#define poll WSAPoll
#define close closesocket
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace platora {
namespace {

using Bytes = std::vector<unsigned char>;

#ifdef _WIN32
// The receivers' sockets come before the sender's first lookup, which starts Winsock.
const bool winsockStarted = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
#endif

constexpr int receiveTimeoutMs = 2000;  // only guards against a hang; datagrams on loopback arrive at once

template <std::size_t size>
Bytes bytesOf(const char (&text)[size]) {
    return Bytes(text, text + size - 1);
}

// A plain UDP socket on 127.0.0.1 at a port of the system's choosing.
class LoopbackReceiver {
public:
    LoopbackReceiver() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
    }
    ~LoopbackReceiver() { ::close(descriptor); }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    // Empty when nothing arrives in time. The buffer is poisoned first, so every byte
    // compared was written by the datagram.
    Bytes receive() const {
        pollfd waiting{static_cast<decltype(pollfd::fd)>(descriptor), POLLIN, 0};
        if (::poll(&waiting, 1, receiveTimeoutMs) != 1) return {};
        unsigned char buffer[256];
        std::memset(buffer, 0x74, sizeof buffer);
        const auto size = ::recv(descriptor, reinterpret_cast<char*>(buffer), sizeof buffer, 0);
        return size > 0 ? Bytes(buffer, buffer + size) : Bytes{};
    }

    int port = 0;  // 0 when the socket could not be bound

private:
    int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
};

std::unique_ptr<OscSender> senderTo(const char* host, const LoopbackReceiver& receiver) {
    std::string error;
    auto sender = OscSender::create(host, receiver.port, error);
    EXPECT_NE(sender, nullptr) << error;
    return sender;
}

TEST(OscSender, EachMessageIsOneDatagramOfPaddedAddressTypeTagsAndBigEndianFloatInOrder) {
    LoopbackReceiver receiver;
    auto sender = senderTo("127.0.0.1", receiver);
    ASSERT_NE(sender, nullptr);
    // 71 characters, a NUL, the type tags and the argument make exactly the 80-byte buffer.
    const std::string longest = "/" + std::string(70, 'a');
    const std::pair<std::string, float> sent[] = {{"/scratch/speed", -100.0f},
                                                  {"/scratch/pos", 0.0f},
                                                  {"/scratch/pos", 12.5f},
                                                  {"/scratch/TPS", 125.0f},
                                                  {"/scratch/vol", 1.0f},
                                                  {"/scratch/vol", static_cast<float>(32768 * (1.0 / 32767.0))},
                                                  {longest, 1.0f},
                                                  {longest + "b", 1.0f},
                                                  {"/scratch/pos", 0.0f}};
    for (const auto& [address, value] : sent) sender->sendFloat(address.c_str(), value);
    //                                  0   4   8   12          16            20
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/speed\0\0,f\0\0\xC2\xC8\0\0"));
    // A shorter address after a longer one is padded with its own NULs.
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/pos\0\0\0\0,f\0\0\0\0\0\0"));
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/pos\0\0\0\0,f\0\0\x41\x48\0\0"));
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/TPS\0\0\0\0,f\0\0\x42\xFA\0\0"));
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/vol\0\0\0\0,f\0\0\x3F\x80\0\0"));
    // 1.0000305: the lowest bit of the middle byte beyond 1.0.
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/vol\0\0\0\0,f\0\0\x3F\x80\x01\0"));
    Bytes filling(longest.begin(), longest.end());
    const Bytes tail = bytesOf("\0,f\0\0\x3F\x80\0\0");
    filling.insert(filling.end(), tail.begin(), tail.end());
    EXPECT_EQ(receiver.receive(), filling);
    // One character more does not fit and sends nothing.
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/pos\0\0\0\0,f\0\0\0\0\0\0"));
}

// A bare system (a minbase chroot) may have no /etc/hosts, and then no name resolves.
bool localhostResolves() {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const bool resolves = ::getaddrinfo("localhost", nullptr, &hints, &found) == 0;
    if (found) ::freeaddrinfo(found);
    return resolves;
}

TEST(OscSender, AHostNameOrTheLiteralAddressZeroReachesThisHost) {
    std::vector<const char*> hosts = {"0.0.0.0"};  // Linux delivers datagrams for 0.0.0.0 here
    if (localhostResolves())
        hosts.push_back("localhost");
    else
        std::printf("localhost does not resolve on this machine: only 0.0.0.0 is tried\n");
    for (const char* host : hosts) {
        LoopbackReceiver receiver;
        auto sender = senderTo(host, receiver);
        ASSERT_NE(sender, nullptr) << host;
        sender->sendFloat("/scratch/pos", 0.0f);
        EXPECT_EQ(receiver.receive().size(), 24u) << host;
    }
}

TEST(OscSender, PortsOneTo65535AreAcceptedAndOthersRefusedWithOneLine) {
    for (const int port : {1, 65535, 0, -1, 65536}) {
        std::string error;
        const bool created = OscSender::create("127.0.0.1", port, error) != nullptr;
        EXPECT_EQ(created, port >= 1 && port <= 65535) << port;
        EXPECT_EQ(error, created ? "" : "Port " + std::to_string(port) + " is out of range (1 to 65535)");
    }
}

TEST(OscSender, AHostThatCannotBeResolvedOrReachedIsOneLineOfErrorInsteadOfAnException) {
    struct Refusal {
        const char* host;
        std::string error;  // the resolver's own reason follows where this ends in ": "
    };
    const Refusal refusals[] = {
        {"no-such-host.invalid", "Unable to resolve host \"no-such-host.invalid\": "},
        {"", "Unable to resolve host \"\": "},
        // oscpack would take it as "any address" and send to this host.
        {"255.255.255.255", "Unable to send to 255.255.255.255: broadcast is not supported"},
        // The kernel refuses to connect a socket without SO_BROADCAST to a broadcast address.
        {"127.255.255.255", "Unable to send to 127.255.255.255:44444: unable to connect udp socket"}};
    for (const auto& [host, expected] : refusals) {
        std::string error;
        std::unique_ptr<OscSender> sender;
        EXPECT_NO_THROW(sender = OscSender::create(host, 44444, error));
        EXPECT_EQ(sender, nullptr);
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(expected.back() == ' ' ? error.substr(0, expected.size()) : error, expected);
    }
}

#ifndef _WIN32
// Uses up every file descriptor, then asks for a sender: run in a child process only.
[[noreturn]] void createSenderWithoutFileDescriptors() {
    // A failed connect first takes the same path while descriptors are left: UndefinedBehavior
    // Sanitizer needs a pipe the first time it checks the caught exception's type.
    std::string error;
    (void)OscSender::create("127.255.255.255", 44444, error);
    const rlimit limit{64, 64};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> taken;
    taken.reserve(limit.rlim_cur);
    for (int descriptor; (descriptor = ::dup(STDERR_FILENO)) >= 0;) taken.push_back(descriptor);
    const bool refused = OscSender::create("127.0.0.1", 44444, error) == nullptr;
    for (const int descriptor : taken) ::close(descriptor);
    std::fprintf(stderr, "%s", error.c_str());
    std::exit(refused ? 0 : 1);
}

TEST(OscSender, ASocketThatCannotBeCreatedIsAnErrorInsteadOfAnException) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(createSenderWithoutFileDescriptors(), ::testing::ExitedWithCode(0),
                "^Unable to send to 127.0.0.1:44444: unable to create udp socket$");
}
#endif

// A bundle: "#bundle", the timetag, then each message with its size before it, all big-endian.
TEST(OscSender, ABundleCarriesItsTimetagAndEachMessageSizedInOneDatagram) {
    LoopbackReceiver receiver;
    auto sender = senderTo("127.0.0.1", receiver);
    ASSERT_NE(sender, nullptr);
    const ScratchMessage messages[] = {{"/scratch/pos", 12.5f}, {"/deck2/scratch/TPS", 125.0f}};
    sender->sendBundle(0x0123456789ABCDEFu, messages);
    //                                0         8                 16              20
    EXPECT_EQ(receiver.receive(), bytesOf("#bundle\0\x01\x23\x45\x67\x89\xAB\xCD\xEF\0\0\0\x18"
                                          "/scratch/pos\0\0\0\0,f\0\0\x41\x48\0\0\0\0\0\x1C"
                                          "/deck2/scratch/TPS\0\0,f\0\0\x42\xFA\0\0"));
    // Too long for the bundle's buffer: nothing, and the next one goes out whole.
    const std::string longest = "/" + std::string(70, 'a');
    const std::vector<ScratchMessage> many(7, ScratchMessage{longest.c_str(), 1.0f});
    sender->sendBundle(OscSender::immediately, many);
    sender->sendBundle(OscSender::immediately, std::span(messages, 1));
    EXPECT_EQ(receiver.receive(), bytesOf("#bundle\0\0\0\0\0\0\0\0\x01\0\0\0\x18"
                                          "/scratch/pos\0\0\0\0,f\0\0\x41\x48\0\0"));
}

TEST(OscSender, TimetagsCountSecondsFrom1900AndTheirFractionIn32Bits) {
    using namespace std::chrono;
    const system_clock::time_point epoch{};
    EXPECT_EQ(oscTimetag(epoch), 0x83AA7E8000000000u);
    EXPECT_EQ(oscTimetag(epoch + 1500ms), 0x83AA7E8180000000u);
    EXPECT_EQ(oscTimetag(epoch + seconds(1800000000) + 250ms), 0xEEF4508040000000u);
    // Before 1970 too: the fraction stays positive.
    EXPECT_EQ(oscTimetag(epoch - 250ms), 0x83AA7E7FC0000000u);
}

}  // namespace
}  // namespace platora
