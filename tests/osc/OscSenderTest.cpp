#include "OscSender.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace platora {
namespace {

using Bytes = std::vector<unsigned char>;

constexpr int receiveTimeoutMs = 2000;  // only guards against a hang; datagrams on loopback arrive at once
constexpr unsigned char poison = 0x74;
constexpr std::size_t receiveBufferBytes = 256;

Bytes bytesOf(const char* text, std::size_t count) {
    return Bytes(text, text + count);
}

// A plain UDP socket on 127.0.0.1 at a port of the system's choosing.
class LoopbackReceiver {
public:
    LoopbackReceiver() {
        descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bound = descriptor >= 0 && ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        socklen_t length = sizeof address;
        if (bound && ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            boundPort = ntohs(address.sin_port);
        }
    }
    ~LoopbackReceiver() {
        if (descriptor >= 0) {
            ::close(descriptor);
        }
    }
    LoopbackReceiver(const LoopbackReceiver&) = delete;
    LoopbackReceiver& operator=(const LoopbackReceiver&) = delete;

    bool ready() const { return bound && boundPort != 0; }
    int port() const { return boundPort; }

    // Empty when nothing arrives in time. The buffer is poisoned first, so every byte
    // compared was written by the datagram.
    Bytes receive() const {
        pollfd waiting{descriptor, POLLIN, 0};
        if (::poll(&waiting, 1, receiveTimeoutMs) != 1) {
            return {};
        }
        unsigned char buffer[receiveBufferBytes];
        std::memset(buffer, poison, sizeof buffer);
        const ssize_t size = ::recv(descriptor, buffer, sizeof buffer, 0);
        return size > 0 ? Bytes(buffer, buffer + size) : Bytes{};
    }

private:
    int descriptor = -1;
    bool bound = false;
    int boundPort = 0;
};

class OscSenderDatagrams : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(receiver.ready());
        std::string error;
        sender = OscSender::create("127.0.0.1", receiver.port(), error);
        ASSERT_NE(sender, nullptr) << error;
    }

    LoopbackReceiver receiver;
    std::unique_ptr<OscSender> sender;
};

TEST_F(OscSenderDatagrams, PositionZeroIsTheAddressFourNulsTheTypeTagsAndFourZeroBytes) {
    sender->sendFloat("/scratch/pos", 0.0f);
    //                                    0   4   8   12          16            20
    const Bytes expected = bytesOf("/scratch/pos\0\0\0\0,f\0\0\0\0\0\0", 24);
    EXPECT_EQ(receiver.receive(), expected);
}

TEST_F(OscSenderDatagrams, NegativeSpeedGoesOutAsABigEndianFloat) {
    sender->sendFloat("/scratch/speed", static_cast<float>(-1.0 * 100.0));
    const Bytes expected = bytesOf("/scratch/speed\0\0,f\0\0\xC2\xC8\0\0", 24);
    EXPECT_EQ(receiver.receive(), expected);
}

TEST_F(OscSenderDatagrams, VolumeOfFullScaleIsOneAndTheNegativeExtremeSlightlyMore) {
    constexpr double perFullScale = 1.0 / 32767.0;
    sender->sendFloat("/scratch/vol", static_cast<float>(32767 * perFullScale));
    sender->sendFloat("/scratch/vol", static_cast<float>(0 * perFullScale));
    sender->sendFloat("/scratch/vol", static_cast<float>(32768 * perFullScale));
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/vol\0\0\0\0,f\0\0\x3F\x80\0\0", 24));
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/vol\0\0\0\0,f\0\0\0\0\0\0", 24));
    // 1.0000305: the lowest bit of the middle byte beyond 1.0.
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/vol\0\0\0\0,f\0\0\x3F\x80\x01\0", 24));
}

TEST_F(OscSenderDatagrams, EveryCycleSendsItsFourMessagesInOrderEvenWhenNothingChanged) {
    const Bytes position = bytesOf("/scratch/pos\0\0\0\0,f\0\0\x41\x48\0\0", 24);
    const Bytes timecodesPerSecond = bytesOf("/scratch/TPS\0\0\0\0,f\0\0\x42\xFA\0\0", 24);
    const Bytes speed = bytesOf("/scratch/speed\0\0,f\0\0\xC2\xC8\0\0", 24);
    const Bytes volume = bytesOf("/scratch/vol\0\0\0\0,f\0\0\x3F\x80\0\0", 24);
    for (int cycle = 0; cycle < 2; ++cycle) {
        sender->sendFloat("/scratch/pos", 12.5f);
        sender->sendFloat("/scratch/TPS", static_cast<float>(125));
        sender->sendFloat("/scratch/speed", -100.0f);
        sender->sendFloat("/scratch/vol", 1.0f);
    }
    for (int cycle = 0; cycle < 2; ++cycle) {
        SCOPED_TRACE(cycle);
        EXPECT_EQ(receiver.receive(), position);
        EXPECT_EQ(receiver.receive(), timecodesPerSecond);
        EXPECT_EQ(receiver.receive(), speed);
        EXPECT_EQ(receiver.receive(), volume);
    }
}

TEST_F(OscSenderDatagrams, AShorterAddressAfterALongerOneIsPaddedWithItsOwnNuls) {
    sender->sendFloat("/scratch/speed", 0.0f);
    sender->sendFloat("/scratch/pos", 0.0f);
    receiver.receive();
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/pos\0\0\0\0,f\0\0\0\0\0\0", 24));
}

TEST_F(OscSenderDatagrams, AMessageThatExactlyFillsTheBufferGoesOutAndALongerOneIsDropped) {
    // 71 characters, a NUL, the type tags and the argument make exactly 80 bytes.
    const std::string longest = "/" + std::string(70, 'a');
    const std::string tooLong = longest + "b";
    sender->sendFloat(longest.c_str(), 1.0f);
    sender->sendFloat(tooLong.c_str(), 1.0f);
    sender->sendFloat("/scratch/pos", 0.0f);

    Bytes expectedLongest(longest.begin(), longest.end());
    const Bytes tail = bytesOf("\0,f\0\0\x3F\x80\0\0", 9);
    expectedLongest.insert(expectedLongest.end(), tail.begin(), tail.end());
    EXPECT_EQ(receiver.receive(), expectedLongest);
    EXPECT_EQ(receiver.receive(), bytesOf("/scratch/pos\0\0\0\0,f\0\0\0\0\0\0", 24));
}

TEST(OscSenderDestination, AHostNameIsResolvedToItsAddress) {
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.ready());
    std::string error;
    auto sender = OscSender::create("localhost", receiver.port(), error);
    ASSERT_NE(sender, nullptr) << error;
    sender->sendFloat("/scratch/TPS", 0.0f);
    EXPECT_EQ(receiver.receive().size(), 24u);
}

TEST(OscSenderDestination, PortsOutsideOneTo65535AreRefusedWithOneLine) {
    for (const int port : {0, -1, 65536, 44444 * 10}) {
        SCOPED_TRACE(port);
        std::string error;
        EXPECT_EQ(OscSender::create("127.0.0.1", port, error), nullptr);
        EXPECT_EQ(error, "Port " + std::to_string(port) + " is out of range (1 to 65535)");
    }
}

TEST(OscSenderDestination, TheFirstAndLastPortsAreAccepted) {
    for (const int port : {1, 65535}) {
        SCOPED_TRACE(port);
        std::string error;
        EXPECT_NE(OscSender::create("127.0.0.1", port, error), nullptr) << error;
        EXPECT_TRUE(error.empty());
    }
}

TEST(OscSenderDestination, AnUnresolvableHostIsAnErrorNamingTheHostNotAddressZero) {
    std::string error;
    EXPECT_EQ(OscSender::create("no-such-host.invalid", 44444, error), nullptr);
    // The resolver's own reason follows; it differs with and without a reachable name server.
    EXPECT_EQ(error.rfind("Unable to resolve host \"no-such-host.invalid\": ", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

TEST(OscSenderDestination, TheLiteralAddressZeroIsTakenAsGivenNotAsAFailedLookup) {
    // Linux delivers datagrams for 0.0.0.0 to this host.
    LoopbackReceiver receiver;
    ASSERT_TRUE(receiver.ready());
    std::string error;
    auto sender = OscSender::create("0.0.0.0", receiver.port(), error);
    ASSERT_NE(sender, nullptr) << error;
    sender->sendFloat("/scratch/pos", 0.0f);
    EXPECT_EQ(receiver.receive().size(), 24u);
}

TEST(OscSenderDestination, AnEmptyHostIsAnError) {
    std::string error;
    EXPECT_EQ(OscSender::create("", 44444, error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(OscSenderDestination, TheLimitedBroadcastAddressIsRefusedRatherThanSentToThisHost) {
    std::string error;
    EXPECT_EQ(OscSender::create("255.255.255.255", 44444, error), nullptr);
    EXPECT_NE(error.find("broadcast"), std::string::npos) << error;
}

TEST(OscSenderDestination, ASocketThatCannotConnectIsAnErrorInsteadOfAnException) {
    // The kernel refuses to connect a socket without SO_BROADCAST to the loopback broadcast address.
    std::string error;
    std::unique_ptr<OscSender> sender;
    EXPECT_NO_THROW(sender = OscSender::create("127.255.255.255", 44444, error));
    EXPECT_EQ(sender, nullptr);
    EXPECT_EQ(error, "Unable to send to 127.255.255.255:44444: unable to connect udp socket");
}

// Uses up every file descriptor, then asks for a sender: run in a child process only.
[[noreturn]] void createSenderWithoutFileDescriptors() {
    // A failed connect first takes the same path while descriptors are left: UndefinedBehavior
    // Sanitizer needs a pipe the first time it checks the caught exception's type.
    std::string warmUp;
    (void)OscSender::create("127.255.255.255", 44444, warmUp);
    constexpr rlim_t fewDescriptors = 64;
    const rlimit limit{fewDescriptors, fewDescriptors};
    ::setrlimit(RLIMIT_NOFILE, &limit);
    std::vector<int> taken;
    taken.reserve(fewDescriptors);
    for (int descriptor = ::dup(STDERR_FILENO); descriptor >= 0; descriptor = ::dup(STDERR_FILENO)) {
        taken.push_back(descriptor);
    }
    std::string error;
    const auto sender = OscSender::create("127.0.0.1", 44444, error);
    for (const int descriptor : taken) {
        ::close(descriptor);
    }
    std::fprintf(stderr, "%s", error.c_str());
    std::exit(sender == nullptr ? 0 : 1);
}

TEST(OscSenderDestination, ASocketThatCannotBeCreatedIsAnErrorInsteadOfAnException) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(createSenderWithoutFileDescriptors(), ::testing::ExitedWithCode(0),
                "^Unable to send to 127.0.0.1:44444: unable to create udp socket$");
}

// oscdump, an OSC receiver from another library, run as a child process.
class OscDump {
public:
    static bool available() {
        const char* path = std::getenv("PATH");
        std::istringstream directories(path ? path : "");
        std::string directory;
        while (std::getline(directories, directory, ':')) {
            if (::access((directory + "/oscdump").c_str(), X_OK) == 0) {
                return true;
            }
        }
        return false;
    }

    explicit OscDump(int port) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
        std::string portText = std::to_string(port);
        // -L: line-buffered, so each message reaches the pipe as soon as it is printed.
        char* arguments[] = {const_cast<char*>("oscdump"), const_cast<char*>("-L"), portText.data(), nullptr};
        if (posix_spawnp(&child, "oscdump", &actions, nullptr, arguments, environ) != 0) {
            child = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeEnds[1]);
        output = pipeEnds[0];
    }
    ~OscDump() {
        if (child > 0) {
            ::kill(child, SIGTERM);
            ::waitpid(child, nullptr, 0);
        }
        if (output >= 0) {
            ::close(output);
        }
    }
    OscDump(const OscDump&) = delete;
    OscDump& operator=(const OscDump&) = delete;

    bool started() const { return child > 0; }

    // One printed message without oscdump's leading time stamp; empty on time-out or end.
    std::string nextMessage(int timeoutMs) {
        std::size_t lineEnd;
        while ((lineEnd = pending.find('\n')) == std::string::npos) {
            pollfd waiting{output, POLLIN, 0};
            char chunk[256];
            if (::poll(&waiting, 1, timeoutMs) != 1) {
                return {};
            }
            const ssize_t size = ::read(output, chunk, sizeof chunk);
            if (size <= 0) {
                return {};
            }
            pending.append(chunk, static_cast<std::size_t>(size));
        }
        std::string line = pending.substr(0, lineEnd);
        pending.erase(0, lineEnd + 1);
        const std::size_t afterStamp = line.find(' ');
        return afterStamp == std::string::npos ? line : line.substr(afterStamp + 1);
    }

private:
    pid_t child = 0;
    int output = -1;
    std::string pending;
};

int freeUdpPort() {
    LoopbackReceiver probe;
    return probe.ready() ? probe.port() : 0;
}

TEST(OscSenderWithOscDump, AnIndependentReceiverReadsTheFourAddressesAndTheirValues) {
    if (!OscDump::available()) {
        GTEST_SKIP() << "oscdump not found on PATH (Debian package liblo-tools)";
    }
    const int port = freeUdpPort();
    ASSERT_NE(port, 0);
    OscDump dump(port);
    ASSERT_TRUE(dump.started());
    std::string error;
    auto sender = OscSender::create("127.0.0.1", port, error);
    ASSERT_NE(sender, nullptr) << error;

    // oscdump prints nothing when it is ready: probe until a probe comes back.
    constexpr int probeTries = 50;
    constexpr int probeWaitMs = 100;
    constexpr const char* probeAddress = "/platora/probe";
    bool listening = false;
    for (int attempt = 0; attempt < probeTries && !listening; ++attempt) {
        sender->sendFloat(probeAddress, 0.0f);
        listening = !dump.nextMessage(probeWaitMs).empty();
    }
    ASSERT_TRUE(listening) << "oscdump never received a probe on port " << port;

    sender->sendFloat("/scratch/pos", 12.5f);
    sender->sendFloat("/scratch/TPS", static_cast<float>(125));
    sender->sendFloat("/scratch/speed", static_cast<float>(-1.0 * 100.0));
    sender->sendFloat("/scratch/vol", static_cast<float>(32768 * (1.0 / 32767.0)));

    std::vector<std::string> received;
    while (received.size() < 4) {
        const std::string message = dump.nextMessage(receiveTimeoutMs);
        if (message.empty()) {
            break;
        }
        if (message.rfind(probeAddress, 0) != 0) {  // late answers to earlier probes
            received.push_back(message);
        }
    }
    const std::vector<std::string> expected{
        "/scratch/pos f 12.500000",
        "/scratch/TPS f 125.000000",
        "/scratch/speed f -100.000000",
        "/scratch/vol f 1.000031",
    };
    EXPECT_EQ(received, expected);
}

}  // namespace
}  // namespace platora
