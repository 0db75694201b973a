#include "JackServer.h"

#include <jack/jack.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platora::test {

namespace {

constexpr auto readyTimeout = std::chrono::seconds(10);
constexpr auto stopTimeout = std::chrono::seconds(1);
constexpr auto pollInterval = std::chrono::milliseconds(10);

// libjack reports a failed connection attempt on stderr; polling makes many of them.
void silentJackMessage(const char*) {}

std::string findOnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

std::string uniqueServerName()
{
    static int started = 0;
    return "platora-test-" + std::to_string(::getpid()) + "-" + std::to_string(++started);
}

}  // namespace

bool JackServer::installed()
{
    return !findOnPath("jackd").empty();
}

JackServer::JackServer()
{
    jack_set_error_function(&silentJackMessage);
    jack_set_info_function(&silentJackMessage);
}

JackServer::~JackServer()
{
    stop();
}

bool JackServer::start(std::string& error)
{
    stop();
    const std::string jackd = findOnPath("jackd");
    if (jackd.empty()) {
        error = "jackd not found on PATH (Debian package jackd2)";
        return false;
    }
    serverName = uniqueServerName();
    logPath = "/tmp/" + serverName + ".log";
    // Without this, jackd asks D-Bus for the sound card even with the dummy back end.
    ::setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
    ::setenv("JACK_DEFAULT_SERVER", serverName.c_str(), 1);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const std::string rate = std::to_string(sampleRateHz);
    const std::string period = std::to_string(periodFrames);
    std::vector<std::string> args = {"jackd", "-n", serverName, "-d", "dummy", "-r", rate, "-p", period};
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = ::posix_spawn(&pid, jackd.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid = -1;
        error = "cannot start " + jackd;
        return false;
    }

    const auto deadline = std::chrono::steady_clock::now() + readyTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            error = "jackd ended at start: " + logTail();
            return false;
        }
        if (acceptsClients()) return true;
        std::this_thread::sleep_for(pollInterval);
    }
    error = "jackd did not accept clients within 10 s: " + logTail();
    stop();
    return false;
}

void JackServer::stop()
{
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopTimeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    pid = -1;
    ::unlink(logPath.c_str());
}

bool JackServer::acceptsClients() const
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open(
        "platora-probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
        serverName.c_str());
    if (client == nullptr) return false;
    jack_client_close(client);
    return true;
}

std::string JackServer::logTail() const
{
    std::ifstream log(logPath);
    std::string line, last;
    while (std::getline(log, line))
        if (!line.empty()) last = line;
    return last.empty() ? "(no output)" : last;
}

void JackServerTest::SetUp()
{
    if (!JackServer::installed()) GTEST_SKIP() << "jackd is not installed (Debian package jackd2); this test needs a real JACK server";
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
}

void JackServerTest::TearDown()
{
    server.stop();
}

}  // namespace platora::test
