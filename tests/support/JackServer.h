#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>

namespace platora::test {

// A jackd with the dummy back end (44100 Hz, 1024-frame periods), private to this test
// process. start() points JACK_DEFAULT_SERVER at it, so every JACK client the process
// opens afterwards (RtAudio's included) talks to this server and not to another test's.
// Servers still share one thing: libjack names a client's socket in /dev/shm after the
// client name alone, so two clients of one name (RtAudio always uses "RtApiJackCount",
// "RtApiJackInfo", "RtApiJack") on two servers at once make connections fail at random.
// Register tests that run a server with the ctest property RESOURCE_LOCK jackd.
class JackServer {
public:
    static constexpr unsigned int sampleRateHz = 44100;
    static constexpr unsigned int periodFrames = 1024;

    // Whether jackd can be found on PATH.
    static bool installed();

    JackServer();
    ~JackServer();  // stop()
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Starts jackd and waits until it accepts clients. On failure, error says why
    // (with the tail of jackd's own output) and no server runs.
    bool start(std::string& error);
    // SIGTERM, then SIGKILL if it does not end within a second. No-op when not running.
    void stop();

    bool running() const { return pid > 0; }
    const std::string& name() const { return serverName; }

private:
    bool acceptsClients() const;
    std::string logTail() const;

    std::string serverName;
    std::string logPath;
    pid_t pid = -1;
};

// A test with a fresh JACK server of its own; skipped, with the reason, where jackd is
// missing. Fixtures deriving from it call JackServerTest::SetUp() first and return if
// IsSkipped() or HasFatalFailure().
class JackServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    JackServer server;
};

}  // namespace platora::test
