#include "Streaming.h"

#include "ConsoleControl.h"
#include "GainFollower.h"
#include "LiveStatus.h"
#include "OscSender.h"
#include "SettingsFile.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace platora {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto streamingCycle = 5ms;
constexpr auto statusPeriod = 100ms;
constexpr auto reopenPeriod = 1s;
constexpr int silentPeriodsForLoss = 4;
// A loss must be seen within 250 ms, also with the longest buffers.
constexpr auto longestSilence = 200ms;
// A cycle this late means our own thread was held up (a loaded machine), and the audio
// thread most likely with it: its silence meanwhile proves nothing.
constexpr auto ownStall = 50ms;
constexpr auto sourceGrace = 20ms;

std::string codeTableHint() {
    return std::string(
               "; to make one, record your record once from start to end (for example arecord -D plughw:1 -f "
               "cd side.wav) and run platora-table learn side.wav -o ") +
           FinalScratchCodeTable::defaultFileName + " (see the README); FinalScratch positions cannot be decoded";
}

// Where a deck's messages go: a sender and the addresses of the four and of the age, the
// deck's prefix before each.
struct Destination {
    std::unique_ptr<OscSender> sender;
    std::array<std::string, 4> addresses;
    std::string ageAddress;
};
using Destinations = std::vector<Destination>;

// Tells whether the input is lost and brings it back. Main thread.
class InputWatch {
public:
    InputWatch(CaptureController& controller, std::int16_t device, unsigned int bufferFrames)
        : controller(controller),
          device(device),
          bufferFrames(bufferFrames),
          lastBlocks(controller.blocksDelivered()),
          lastAdvance(Clock::now()),
          lastCheck(lastAdvance) {
        setSilenceLimit();
    }

    bool lost() const { return isLost; }
    // When blocks last came in (or our own thread was last held up).
    Clock::time_point lastDelivery() const { return lastAdvance; }

    // Returns true when the state changed (lost or back).
    bool check() {
        const auto now = Clock::now();
        if (now - lastCheck > ownStall) lastAdvance = now;
        lastCheck = now;
        const std::uint32_t blocks = controller.blocksDelivered();
        if (blocks != lastBlocks) {
            lastBlocks = blocks;
            lastAdvance = now;
        }
        // A JACK source that went away leaves the stream running on silence. The server's graph,
        // read while another client changes it, can show no connection for a moment: only one
        // missing for a while counts.
        if (controller.sourceConnected()) lastConnected = now;
        const bool delivering =
            controller.streamRunning() && now - lastAdvance <= silenceLimit && now - lastConnected <= sourceGrace;
        if (!isLost) {
            if (delivering) return false;
            isLost = true;
            nextReopen = now + reopenPeriod;
            return true;
        }
        if (delivering) {  // the same stream went on after a pause
            isLost = false;
            return true;
        }
        if (now < nextReopen) return false;
        nextReopen = now + reopenPeriod;
        if (!controller.open(device, bufferFrames)) return false;
        setSilenceLimit();
        lastAdvance = lastConnected = Clock::now();
        isLost = false;
        return true;
    }

private:
    void setSilenceLimit() {
        const auto period = std::chrono::duration<double>(static_cast<double>(controller.grantedBufferFrames()) /
                                                          CaptureController::sampleRateHz);
        silenceLimit = std::min<Clock::duration>(
            std::chrono::duration_cast<Clock::duration>(silentPeriodsForLoss * period), longestSilence);
    }

    CaptureController& controller;
    const std::int16_t device;
    const unsigned int bufferFrames;
    Clock::duration silenceLimit{};
    std::uint32_t lastBlocks;
    Clock::time_point lastAdvance;
    Clock::time_point lastCheck;
    Clock::time_point lastConnected = Clock::now();
    Clock::time_point nextReopen;
    bool isLost = false;
};

// One thread at a time sends: OscSender formats every message in one buffer.
void sendAll(CaptureController& controller, const Destinations& destinations, bool inputLost, bool sendAge) {
    for (std::size_t i = 0; i < controller.deckCount(); ++i) {
        const DeckReading r = controller.deck(i).reading(inputLost);
        const auto messages = scratchMessages(r.position, r.speed, r.timecodesPerSecond, r.level);
        for (std::size_t m = 0; m < messages.size(); ++m)
            destinations[i].sender->sendFloat(destinations[i].addresses[m].c_str(), messages[m].value);
        if (!sendAge) continue;
        destinations[i].sender->sendFloat(destinations[i].ageAddress.c_str(), ageMessage(r.ageMs).value);
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
        "> streaming from %s, %u frames per buffer%s, sending %s%s, %s decoding\n", deviceName.c_str(),
        controller.grantedBufferFrames(),
        controller.onJack() ? " (the JACK server's period: jackd -p FRAMES, pw-jack -p FRAMES under PipeWire)" : "",
        settings.send == SendMode::block ? "after every block" : "every 5 ms",
        settings.interpolate ? ", positions interpolated" : "",
        std::string(decodingModeName(settings.decoding)).c_str());
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        const DeckSettings& deck = settings.decks[i];
        std::printf("> deck %zu: channels %d/%d, %s, calibration %.2f, to %s:%d%s\n", i, 2 * deck.pair + 1,
                    2 * deck.pair + 2, deck.findVinyl ? "type found from the signal" : vinylFormat(deck.vinyl).name,
                    static_cast<double>(controller.deck(i).decoder().getCalibration()), settings.host.c_str(),
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

void streamDecks(CaptureController& controller, std::int16_t device, const StreamSettings& settings,
                 const Destinations& destinations) {
    InputWatch watch(controller, device, settings.bufferFrames);
    const bool onTerminal = ::isatty(STDOUT_FILENO) == 1;
    // The dialogue's screen shows the deck line too, on a terminal.
    const bool live =
        settings.report == StreamReport::live || (settings.report == StreamReport::dialogue && onTerminal);
    const LiveStatus::Output output = !live        ? LiveStatus::Output::none
                                      : onTerminal ? LiveStatus::Output::terminal
                                                   : LiveStatus::Output::log;
    std::vector<bool> findVinyl;
    for (const DeckSettings& deck : settings.decks) findVinyl.push_back(deck.findVinyl);
    LiveStatus status(controller, output, settings.scope, findVinyl);
    GainFollowers gains(controller, settings, status);
    auto nextStatus = Clock::now();

    // Per block: a thread of its own sends once the callback wakes it (while the input is
    // lost, the main thread wakes it every cycle). The callback itself never sends.
    std::atomic<bool> inputLost{false};
    std::atomic<bool> senderDone{false};
    std::thread sender;
    const bool sendPerBlock = settings.send == SendMode::block;
    if (sendPerBlock) {
        sender = std::thread([&] {
            std::uint32_t seen = controller.wakeupCount();
            for (;;) {
                seen = controller.waitForWakeup(seen);
                if (senderDone.load(std::memory_order_acquire)) return;
                sendAll(controller, destinations, inputLost.load(std::memory_order_acquire), settings.sendAge);
            }
        });
    }

    do {
        if (watch.check()) {
            if (watch.lost()) {
                for (std::size_t i = 0; i < controller.deckCount(); ++i)
                    controller.deck(i).holdPosition(watch.lastDelivery());
                // Live status shows it in the deck lines.
                if (settings.report != StreamReport::live)
                    status.announce("The audio input was lost; it is tried again every second.");
            } else {
                if (settings.report == StreamReport::dialogue)
                    status.announce("The audio input is back; streaming goes on.");
                status.rejoined();
            }
            std::fflush(stdout);
            inputLost.store(watch.lost(), std::memory_order_release);
        }
        if (!sendPerBlock) {
            sendAll(controller, destinations, watch.lost(), settings.sendAge);
        } else if (watch.lost()) {
            controller.wake();
        }
        if (!watch.lost()) gains.follow();
        // Also without a live status: automatic decks find their type there.
        if (Clock::now() >= nextStatus) {
            status.update(watch.lost());
            nextStatus = Clock::now() + statusPeriod;
        }
        std::this_thread::sleep_for(streamingCycle);
    } while (!stopping());

    if (sender.joinable()) {
        senderDone.store(true, std::memory_order_release);
        controller.wake();
        sender.join();
    }
}

}  // namespace

const std::string& ProgramCodeTable::load() {
    if (tried) return problem;
    tried = true;
    std::string error;
    if (!codeTable.loadDefault(usedPath, error)) problem = error + codeTableHint();
    return problem;
}

std::string ProgramCodeTable::inUse() const {
    return "FinalScratch code table " + usedPath + ", " + std::to_string(codeTable.rowCount()) + " rows";
}

void prepareDecks(CaptureController& controller, const StreamSettings& settings, const FinalScratchCodeTable& table) {
    std::vector<std::int32_t> pairs;
    for (const DeckSettings& deck : settings.decks) pairs.push_back(deck.pair);
    controller.setDeckPairs(pairs);
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        Deck& deck = controller.deck(i);
        deck.setVinylType(settings.decks[i].vinyl);
        deck.setCodeTable(&table);
        deck.setInterpolation(settings.interpolate);
        deck.setDecodingMode(settings.decoding);
    }
    setLevels(controller, settings);
}

int streamFromSettings(CaptureController& controller, const StreamSettings& settings, ProgramCodeTable& codeTable) {
    const bool quiet = settings.report == StreamReport::quiet;
    const std::int32_t device = controller.findDevice(settings.device);
    if (device < 0 && controller.deviceCount() == 0)
        return failure(std::string("no input device at all: ") + noDeviceHint);
    if (device < 0) return failure("no input device \"" + settings.device + "\" (see --list-devices)");
    const std::string deviceName = controller.getName(device);
    const bool opened = controller.streamOpen();
    if (opened) {
        setLevels(controller, settings);
    } else {
        const std::int32_t channels = controller.getInputChannels(device);
        const int highest =
            std::max_element(settings.decks.begin(), settings.decks.end(),
                             [](const DeckSettings& a, const DeckSettings& b) { return a.pair < b.pair; })
                ->pair;
        if (2 * highest + 2 > channels)
            return failure("pair " + std::to_string(highest) + " needs channels " + std::to_string(2 * highest + 1) +
                           "/" + std::to_string(2 * highest + 2) + ", but the device has " + std::to_string(channels) +
                           " inputs");
        prepareDecks(controller, settings, codeTable.table());
    }

    Destinations destinations;
    for (const DeckSettings& deck : settings.decks) {
        std::string error;
        Destination destination{OscSender::create(settings.host.c_str(), deck.port, error), {}, {}};
        if (!destination.sender) return failure(error);
        // Built from the same names, so without a prefix the bytes sent are the ones they always were.
        const auto messages = scratchMessages(0.0f, 0.0f, 0, 0);
        for (std::size_t m = 0; m < messages.size(); ++m) destination.addresses[m] = deck.prefix + messages[m].address;
        destination.ageAddress = deck.prefix + ageAddress;
        destinations.push_back(std::move(destination));
    }
    const bool finalScratch = std::any_of(settings.decks.begin(), settings.decks.end(), [](const DeckSettings& deck) {
        return deck.vinyl == FinalScratch || deck.findVinyl;
    });
    // Once looked for (the dialogue does so when the vinyl is chosen), its problem has been told.
    if (finalScratch && !codeTable.lookedFor()) {
        if (const std::string& problem = codeTable.load(); !problem.empty())
            std::printf("%s\n", problem.c_str());
        else if (!quiet)
            std::printf("> %s\n", codeTable.inUse().c_str());
    }

    const auto deviceIndex = static_cast<std::int16_t>(device);
    if (!opened) {
        if (!controller.open(deviceIndex, settings.bufferFrames))
            return failure("cannot open the audio device \"" + deviceName + "\": " + controller.openError());
        if (controller.grantedBufferFrames() != settings.bufferFrames && !controller.onJack() && !quiet)
            std::printf("> the audio library granted %u frames per buffer (asked for %u)\n",
                        controller.grantedBufferFrames(), settings.bufferFrames);
        if (controller.realtimeRefused())
            std::printf("> the system refused realtime scheduling; the audio thread runs at normal priority\n");
    }
    if (settings.report == StreamReport::live) announce(controller, deviceName, settings);
    streamDecks(controller, deviceIndex, settings, destinations);
    return 0;
}

}  // namespace platora
