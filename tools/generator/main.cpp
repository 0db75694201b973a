// platora-gen: writes or plays a timecode signal for the Platora decoder.
#include "CommandLine.h"
#include "CommandLineConventions.h"
#include "SignalFiles.h"
#ifndef PLATORA_GEN_WITHOUT_JACK
#include "JackPlayer.h"
#endif

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

using namespace platora;

int fail(const std::string& message) {
    std::fprintf(stderr, "platora-gen: %s\n", message.c_str());
    return 1;
}

std::int64_t framesFor(double seconds, std::int32_t sampleRate) { return std::llround(seconds * sampleRate); }

int writeFiles(GenCommand& command) {
    TimecodeGenerator generator(command.settings);
    std::string error;
    SignalPaths paths = SignalPaths::forOutput(command.output);
    if (!writeSignalFiles(generator, framesFor(command.lengthSeconds(), command.settings.sampleRate), paths, error))
        return fail(error);
    return 0;
}

#ifdef PLATORA_GEN_WITHOUT_JACK
int playLive(GenCommand&) { return fail("this build has no live mode: --jack needs JACK, write a file instead"); }
#else
std::atomic<bool> stopSignal{false};  // lock-free, so a signal handler may set it
static_assert(std::atomic<bool>::is_always_lock_free);

void onStopSignal(int) { stopSignal.store(true, std::memory_order_relaxed); }

int playLive(GenCommand& command) {
    constexpr auto pollInterval = std::chrono::milliseconds(10);
    std::string error;
    JackPlayer player;
    if (!player.open(command.jackClient, command.settings.channels, error)) return fail(error);
    if (command.rateGiven && command.settings.sampleRate != player.sampleRate())
        return fail("--rate " + std::to_string(command.settings.sampleRate) + " differs from the JACK server's " +
                    std::to_string(player.sampleRate()) + " Hz");
    command.settings.sampleRate = player.sampleRate();
    if (!TimecodeGenerator::validate(command.settings, error)) return fail(error);

    TimecodeGenerator generator(command.settings);
    ManifestWriter manifest;
    ManifestWriter* manifestOut = nullptr;
    if (!command.output.empty()) {
        SignalPaths paths = SignalPaths::forOutput(command.output);
        if (command.settings.vinylType == FinalScratch &&
            !writeFinalScratchTable(command.settings.finalScratchRows, paths.table, error))
            return fail(error);
        if (!manifest.open(paths.manifest, error)) return fail(error);
        manifestOut = &manifest;
    }

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends it even if the JACK library holds it up.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    if (!player.start(generator, framesFor(command.lengthSeconds(), player.sampleRate()), error)) return fail(error);
    while (!stopSignal.load(std::memory_order_relaxed) && !player.finished() && !player.serverGone()) {
        std::this_thread::sleep_for(pollInterval);
        player.drainManifest(manifestOut);
    }
    if (player.finished()) {
        // Let the last period reach the clients that read it before we go away.
        std::this_thread::sleep_for(std::chrono::duration<double>(2.0 * player.bufferFrames() / player.sampleRate()));
    }
    player.stop();
    player.drainManifest(manifestOut);
    if (manifestOut && player.playing() && !player.finished()) manifest.write(generator.stateAt(player.framesPlayed()));
    if (!manifest.close(error)) return fail(error);
    if (player.serverGone()) return fail("the JACK server went away");
    if (player.droppedRows() > 0)
        return fail(std::to_string(player.droppedRows()) + " manifest rows were lost (disk too slow)");
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("", "platora-gen");
    addVersionFlag(app);
    GenCommand command;
    addGenOptions(app, command);
    if (const int status = parseCommandLine(app, argc, argv); status != goOn) return status;
    if (std::string error; !completeGenCommand(command, error)) return usageError(app.get_name(), error);
    return command.jackClient.empty() ? writeFiles(command) : playLive(command);
}
