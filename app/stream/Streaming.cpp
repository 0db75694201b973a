#include "Streaming.h"

#include "ConsoleControl.h"
#include "DeckSender.h"
#include "GainFollower.h"
#include "InputWatch.h"
#include "LiveStatus.h"
#include "SavedCalibration.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace platora {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto streamingCycle = 5ms;
constexpr auto statusPeriod = 100ms;

// A deck's sender each, in the decks' order.
using Destinations = std::vector<std::unique_ptr<DeckSender>>;

// The system clock's time of a steady clock time near now.
std::chrono::system_clock::time_point systemTimeOf(Clock::time_point time) {
    return std::chrono::system_clock::now() -
           std::chrono::duration_cast<std::chrono::system_clock::duration>(Clock::now() - time);
}

// One thread at a time sends: OscSender formats every message in one buffer.
void sendAll(CaptureController& controller, Destinations& destinations, bool inputLost, bool sendAge, bool bundle) {
    for (std::size_t i = 0; i < controller.deckCount(); ++i) {
        const DeckReading r = controller.deck(i).reading(inputLost);
        const std::optional<std::uint64_t> timetag =
            bundle ? std::optional(oscTimetag(systemTimeOf(r.capturedAt))) : std::nullopt;
        destinations[i]->send(r.position, r.speed, r.timecodesPerSecond, r.level, r.ageMs, sendAge, timetag);
    }
}

bool stopping() { return stopRequested.load(std::memory_order_relaxed); }

int failure(std::string line) {
    std::replace(line.begin(), line.end(), '\n', ' ');  // RtAudio's words may span lines
    std::fflush(stdout);
    std::fprintf(stderr, "platora: %s\n", line.c_str());
    return 1;
}

float calibrationFor(const StreamSettings& settings, VinylType type) {
    if (settings.calibration == CalibrationSource::value) return settings.calibrationValue;
    float saved = 0.0f;
    if (settings.calibration == CalibrationSource::saved && loadCalibrationValue(saved)) return saved;
    return vinylFormat(type).defaultCalibration;
}

// What may change while a stream runs.
void setLevels(CaptureController& controller, const StreamSettings& settings) {
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        Deck& deck = controller.deck(i);
        deck.setCalibration(calibrationFor(settings, settings.decks[i].vinyl));
        deck.setRiaaEnabled(settings.riaa);
        if (settings.preamp == PreampMode::fixed) deck.setPreampGain(settings.preampGain);
    }
}

void announce(CaptureController& controller, const std::string& deviceName, const StreamSettings& settings) {
    // Under JACK the buffer is the server's period, whatever was asked.
    std::printf(
        "> streaming from %s, %u frames per buffer%s, sending %s%s%s, %s decoding\n", deviceName.c_str(),
        controller.grantedBufferFrames(),
        controller.onJack() ? " (the JACK server's period: jackd -p FRAMES, pw-jack -p FRAMES under PipeWire)" : "",
        settings.send == SendMode::block ? "after every block" : "every 5 ms",
        settings.interpolate ? ", positions interpolated" : "", settings.bundle ? ", as bundles" : "",
        std::string(decodingModeName(settings.decoding)).c_str());
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        const DeckSettings& deck = settings.decks[i];
        std::printf("> deck %zu: channels %d/%d, %s, calibration %.2f, to %s:%d%s\n", i, 2 * deck.pair + 1,
                    2 * deck.pair + 2, deck.findVinyl ? "type found from the signal" : vinylFormat(deck.vinyl).name,
                    static_cast<double>(controller.deck(i).decoder().calibration()), settings.host.c_str(),
                    deck.port, deck.prefix.empty() ? "" : (" as " + deck.prefix + positionAddress + " ...").c_str());
    }
    std::fflush(stdout);
}

// The automatic preamp of stage mode: a follower per deck, told in the status when it waits
// and whenever it picks a gain.
class GainFollowers {
public:
    GainFollowers(CaptureController& controller, const StreamSettings& settings, LiveStatus& status)
        : controller(controller), status(status), quiet(settings.report == StreamReport::quiet) {
        if (settings.preamp != PreampMode::automatic) return;
        for (std::size_t i = 0; i < controller.deckCount(); ++i) {
            followers.emplace_back(Clock::now(), controller.deck(i).preampGain());
            tell(i, "waiting for a signal to set the gain");
        }
    }

    void follow() {
        for (std::size_t i = 0; i < followers.size(); ++i) {
            Deck& deck = controller.deck(i);
            const std::int16_t before = followers[i].gain();
            const bool heard = followers[i].heardSignal();
            deck.setPreampGain(followers[i].update(deck.getLevel(), Clock::now()));
            if (followers[i].gain() != before || heard != followers[i].heardSignal())
                tell(i, "gain " + std::to_string(followers[i].gain()));
        }
    }

private:
    void tell(std::size_t deck, const std::string& what) {
        if (!quiet) status.announce("deck " + std::to_string(deck) + ": " + what);
    }

    CaptureController& controller;
    LiveStatus& status;
    const bool quiet;
    std::vector<GainFollower> followers;
};

// A thread that runs its work until destroyed, on every way out: a joinable thread left
// behind would end the program.
class SendingThread {
public:
    template <typename Work>
    SendingThread(CaptureController& controller, Work work)
        : controller(controller), thread([this, work] { work(done); }) {}
    ~SendingThread() {
        done.store(true, std::memory_order_release);
        controller.wake();
        thread.join();
    }
    SendingThread(const SendingThread&) = delete;
    SendingThread& operator=(const SendingThread&) = delete;

private:
    CaptureController& controller;
    std::atomic<bool> done{false};
    std::thread thread;
};

void streamDecks(CaptureController& controller, std::int16_t device, const StreamSettings& settings,
                 Destinations& destinations) {
    InputWatch input(controller, device, settings.bufferFrames);
    const bool onTerminal = ::isatty(STDOUT_FILENO) == 1;
    // The dialogue's screen shows the deck line too, on a terminal.
    const bool live =
        settings.report == StreamReport::live || (settings.report == StreamReport::dialogue && onTerminal);
    const LiveStatus::Output output = !live        ? LiveStatus::Output::none
                                      : onTerminal ? LiveStatus::Output::terminal
                                                   : LiveStatus::Output::log;
    // Before anything is sent: an automatic deck withholds its readings from the start.
    std::vector<DeckWatch> decks;
    for (std::size_t i = 0; i < controller.deckCount(); ++i)
        decks.emplace_back(controller.deck(i), settings.decks[i].findVinyl);
    LiveStatus status(output, settings.scope);
    GainFollowers gains(controller, settings, status);
    auto nextStatus = Clock::now();

    // The sending has a thread of its own, so that neither a reopen of the input nor the
    // console holds it up. Per block the callback wakes it; while the input is lost, and
    // without per-block sending, it sends every cycle.
    std::atomic<bool> inputLost{false};
    const bool sendPerBlock = settings.send == SendMode::block;
    SendingThread sending(controller, [&](const std::atomic<bool>& done) {
        std::uint32_t seen = controller.wakeupCount();
        // Cycles counted from a deadline, not from the end of the last send: a slow send
        // would otherwise stretch every cycle past 5 ms.
        auto nextCycle = Clock::now();
        while (!done.load(std::memory_order_acquire)) {
            const bool lost = inputLost.load(std::memory_order_acquire);
            if (sendPerBlock && !lost) {
                seen = controller.waitForWakeup(seen);
                nextCycle = Clock::now();
            } else {
                // After a stall, the next cycle starts from now: no burst to catch up.
                nextCycle = std::max(nextCycle + streamingCycle, Clock::now());
                std::this_thread::sleep_until(nextCycle);
            }
            if (done.load(std::memory_order_acquire)) return;
            sendAll(controller, destinations, lost, settings.sendAge, settings.bundle);
        }
    });

    do {
        if (input.check()) {
            if (input.lost()) {
                for (std::size_t i = 0; i < controller.deckCount(); ++i)
                    controller.deck(i).holdPosition(input.lastDelivery());
                // Live status shows it in the deck lines.
                if (settings.report != StreamReport::live)
                    status.announce("The audio input was lost; it is tried again every second.");
            } else {
                if (settings.report == StreamReport::dialogue)
                    status.announce("The audio input is back; streaming goes on.");
                for (DeckWatch& deck : decks) deck.restart();
                status.rejoined(decks.size());
            }
            inputLost.store(input.lost(), std::memory_order_release);
            controller.wake();  // a sender waiting for the next block sends on the cycle from now
        }
        if (!input.lost()) gains.follow();
        if (Clock::now() >= nextStatus) {
            for (DeckWatch& deck : decks) deck.update(input.lost());
            status.show(decks, input.lost());
            nextStatus = Clock::now() + statusPeriod;
        }
        std::this_thread::sleep_for(streamingCycle);
    } while (!stopping());
}

}  // namespace

void prepareDecks(CaptureController& controller, const StreamSettings& settings, const FinalScratchCodeTable& table) {
    std::vector<std::int32_t> pairs;
    for (const DeckSettings& deck : settings.decks) pairs.push_back(deck.pair);
    controller.setDeckPairs(pairs);
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        Deck& deck = controller.deck(i);
        const VinylType type = settings.decks[i].vinyl;
        deck.setDecoding({type, settings.decoding, std::nullopt, &table});
        deck.setInterpolation(settings.interpolate);
    }
    setLevels(controller, settings);  // the calibration too, read once
}

bool openDecks(CaptureController& controller, const StreamSettings& settings, ProgramCodeTable& codeTable,
               std::string& error) {
    const std::int32_t device = controller.findDevice(settings.device);
    if (device < 0 && controller.deviceCount() == 0) {
        error = std::string("no input device at all: ") + noDeviceHint;
        return false;
    }
    if (device < 0) {
        error = "no input device \"" + settings.device + "\" (see --list-devices)";
        return false;
    }
    const std::int32_t channels = controller.getInputChannels(device);
    const int highest = std::max_element(settings.decks.begin(), settings.decks.end(),
                                         [](const DeckSettings& a, const DeckSettings& b) { return a.pair < b.pair; })
                            ->pair;
    if (2 * highest + 2 > channels) {
        error = "pair " + std::to_string(highest) + " needs channels " + std::to_string(2 * highest + 1) + "/" +
                std::to_string(2 * highest + 2) + ", but the device has " + std::to_string(channels) + " inputs";
        return false;
    }
    const bool quiet = settings.report == StreamReport::quiet;
    const bool finalScratch = std::any_of(settings.decks.begin(), settings.decks.end(), [](const DeckSettings& deck) {
        return deck.vinyl == FinalScratch || deck.findVinyl;
    });
    // Once looked for (the dialogue does so when the vinyl is chosen), what came of it has been told.
    if (finalScratch && !codeTable.lookedFor()) {
        if (std::string tableError; !codeTable.load(tableError))
            std::printf("%s\n", tableError.c_str());
        else if (!quiet)
            std::printf("> %s\n", codeTable.inUse().c_str());
    }
    prepareDecks(controller, settings, codeTable.table());
    if (!controller.open(static_cast<std::int16_t>(device), settings.bufferFrames)) {
        error = "cannot open the audio device \"" + controller.deviceName(device) + "\": " + controller.openError();
        return false;
    }
    // Stage mode's notes; the dialogue's screens have their own.
    if (settings.report == StreamReport::dialogue) return true;
    if (controller.grantedBufferFrames() != settings.bufferFrames && !controller.onJack() && !quiet)
        std::printf("> the audio library granted %u frames per buffer (asked for %u)\n",
                    controller.grantedBufferFrames(), settings.bufferFrames);
    if (controller.realtimeRefused())
        std::printf("> the system refused realtime scheduling; the audio thread runs at normal priority\n");
    return true;
}

int stream(CaptureController& controller, const StreamSettings& settings) {
    // What the dialogue chose after opening (the calibration) applies from here.
    setLevels(controller, settings);
    Destinations destinations;
    for (const DeckSettings& deck : settings.decks) {
        std::string error;
        destinations.push_back(DeckSender::create(settings.host, deck.port, deck.prefix, error));
        if (!destinations.back()) return failure(error);
    }
    const std::int32_t device = controller.findDevice(settings.device);
    if (settings.report == StreamReport::live) announce(controller, controller.deviceName(device), settings);
    streamDecks(controller, static_cast<std::int16_t>(device), settings, destinations);
    return 0;
}

int reportFailure(const std::string& line) { return failure(line); }

}  // namespace platora
