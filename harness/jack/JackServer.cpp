#include "JackServer.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platora::test {

namespace {

using namespace std::chrono_literals;

constexpr auto readyTimeout = 10s;
constexpr auto stopTimeout = 1s;

// libjack reports every failed connection attempt on stderr; polling makes many of them.
void silentJackMessage(const char*) {}

}  // namespace

void JackServerTest::SetUp() {
    if (std::system("command -v jackd >/dev/null") != 0)
        GTEST_SKIP() << "jackd is not installed (Debian package jackd2); this test needs a real JACK server";
    jack_set_error_function(&silentJackMessage);
    jack_set_info_function(&silentJackMessage);
    static int started = 0;
    serverName = "platora-test-" + std::to_string(::getpid()) + "-" + std::to_string(++started);
    logPath = "/tmp/" + serverName + ".log";
    // Without this, jackd asks D-Bus for the sound card even with the dummy back end.
    ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    ::setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);
    startServer();
}

void JackServerTest::startServer() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> args = {"jackd",
                                     "-n",
                                     serverName,
                                     "-d",
                                     "dummy",
                                     "-r",
                                     std::to_string(sampleRateHz),
                                     "-p",
                                     std::to_string(periodFrames)};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawnp(&pid, "jackd", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) pid = -1;
    ASSERT_EQ(spawned, 0) << "cannot start jackd";

    const auto deadline = std::chrono::steady_clock::now() + readyTimeout;
    while (!acceptsClients()) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            FAIL() << "jackd ended at start: " << log();
        }
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "jackd accepts no clients: " << log();
        std::this_thread::sleep_for(10ms);
    }
}

void JackServerTest::TearDown() {
    stopServer(SIGTERM);
    ::unlink(logPath.c_str());
}

void JackServerTest::stopServer(int signal) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + stopTimeout;
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    pid = -1;
}

bool JackServerTest::acceptsClients() const {
    jack_client_t* client = jack_client_open(
        "platora-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), nullptr, serverName.c_str());
    if (client != nullptr) jack_client_close(client);
    return client != nullptr;
}

std::string JackServerTest::log() const {
    std::ifstream in(logPath);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace platora::test
