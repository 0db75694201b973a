#pragma once

#include "VinylType.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <string>

namespace platora::test {

// A test with a private jackd (dummy back end) that every JACK client the process opens
// afterwards talks to, RtAudio's included; skipped, with the reason, where jackd is missing.
// libjack names a client's socket in /dev/shm after the client name alone, so same-named
// clients (RtAudio's names are fixed) on two servers at once fail at random: register such
// tests with the ctest property RESOURCE_LOCK jackd. Fixtures deriving from it call
// JackServerTest::SetUp() first and return if IsSkipped() or HasFatalFailure().
class JackServerTest : public ::testing::Test {
public:
    static constexpr unsigned int sampleRateHz = nominalSampleRateHz;
    static constexpr unsigned int periodFrames = 1024;

protected:
    void SetUp() override;
    void TearDown() override;  // SIGTERM, then SIGKILL if jackd lingers

    // Ends the server with this signal (SIGKILL if it lingers after another) and waits for it;
    // startServer brings one back under the same name. Both fail the test on failure.
    void stopServer(int signal);
    void startServer();

private:
    bool acceptsClients() const;
    std::string log() const;

    std::string serverName;
    std::string logPath;
    pid_t pid = -1;
};

}  // namespace platora::test
