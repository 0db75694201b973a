#include "Streaming.h"

#include "ConsoleControl.h"
#include "LiveStatus.h"
#include "OscSender.h"
#include "Preamp.h"
#include "SettingsFile.h"

#include <unistd.h>

#include <algorithm>
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
// The automatic preamp must not raise the gain while the first buffers are still on their way.
constexpr std::uint32_t settleBlocks = 4;
constexpr auto settleWait = 10ms;
constexpr int settleWaitsMax = 100;  // a second at most

std::string codeTableHint()
{
    return std::string("; to make one, record your record once from start to end (for example arecord -D plughw:1 -f "
                       "cd side.wav) and run platora-table learn side.wav -o ") +
           FinalScratchCodeTable::defaultFileName +
           " (see the README); FinalScratch positions cannot be decoded";
}

using Destinations = std::vector<std::unique_ptr<OscSender>>;

// Tells whether the input is lost and brings it back. Main thread.
class InputWatch {
public:
    InputWatch(CaptureController& controller, std::int16_t device, unsigned int bufferFrames)
        : controller(controller), device(device), bufferFrames(bufferFrames), lastBlocks(controller.blocksDelivered()),
          lastAdvance(Clock::now()), lastCheck(lastAdvance)
    {
        setSilenceLimit();
    }

    bool lost() const { return isLost; }

    // Returns true when the state changed (lost or back).
    bool check()
    {
        const auto now = Clock::now();
        if (now - lastCheck > ownStall) lastAdvance = now;
        lastCheck = now;
        const std::uint32_t blocks = controller.blocksDelivered();
        if (blocks != lastBlocks) {
            lastBlocks = blocks;
            lastAdvance = now;
        }
        const bool delivering = controller.streamRunning() && now - lastAdvance <= silenceLimit;
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
        // The first failure says why; the retries do not repeat it.
        if (!controller.open(device, bufferFrames, reopenFailed)) {
            reopenFailed = true;
            return false;
        }
        reopenFailed = false;
        setSilenceLimit();
        lastAdvance = Clock::now();
        isLost = false;
        return true;
    }

private:
    void setSilenceLimit()
    {
        const auto period = std::chrono::duration<double>(static_cast<double>(controller.grantedBufferFrames()) /
                                                          CaptureController::sampleRateHz);
        silenceLimit = std::min<Clock::duration>(std::chrono::duration_cast<Clock::duration>(silentPeriodsForLoss * period),
                                                 longestSilence);
    }

    CaptureController& controller;
    const std::int16_t device;
    const unsigned int bufferFrames;
    Clock::duration silenceLimit{};
    std::uint32_t lastBlocks;
    Clock::time_point lastAdvance;
    Clock::time_point lastCheck;
    Clock::time_point nextReopen;
    bool isLost = false;
    bool reopenFailed = false;
};

// One thread at a time sends: OscSender formats every message in one buffer.
void sendAll(CaptureController& controller, const Destinations& destinations, bool inputLost, bool sendAge)
{
    for (std::size_t i = 0; i < controller.deckCount(); ++i) {
        const DeckReading r = controller.deck(i).reading(inputLost);
        for (const ScratchMessage& message : scratchMessages(r.position, r.speed, r.timecodesPerSecond, r.level))
            destinations[i]->sendFloat(message.address, message.value);
        if (!sendAge) continue;
        const ScratchMessage age = ageMessage(r.ageMs);
        destinations[i]->sendFloat(age.address, age.value);
    }
}

bool stopping() { return stopRequested.load(std::memory_order_relaxed); }

int failure(std::string line)
{
    std::replace(line.begin(), line.end(), '\n', ' ');  // RtAudio's words may span lines
    std::fflush(stdout);
    std::fprintf(stderr, "platora: %s\n", line.c_str());
    return 1;
}

float calibrationFor(const StreamSettings& settings, VinylType type)
{
    if (settings.calibration == CalibrationSource::value) return settings.calibrationValue;
    float saved = 0.0f;
    if (settings.calibration == CalibrationSource::saved && loadCalibrationValue(saved)) return saved;
    return vinylFormat(type).defaultCalibration;
}

// What may change while a stream runs.
void setLevels(CaptureController& controller, const StreamSettings& settings)
{
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        Deck& deck = controller.deck(i);
        deck.setCalibration(calibrationFor(settings, settings.decks[i].vinyl));
        deck.setRiaaEnabled(settings.riaa);
        if (settings.preamp == PreampMode::fixed) deck.setPreampGain(settings.preampGain);
    }
}

void raiseGains(CaptureController& controller, bool quiet)
{
    const std::uint32_t opened = controller.blocksDelivered();
    for (int wait = 0; wait < settleWaitsMax && controller.blocksDelivered() - opened < settleBlocks; ++wait)
        std::this_thread::sleep_for(settleWait);
    for (std::size_t i = 0; i < controller.deckCount(); ++i)
        if (!raiseGainToTarget(controller.deck(i)) && !stopRequested.load() && !quiet)
            std::printf("> deck %zu: no signal reached the target level; its preamp stays at gain 1\n", i);
}

void announce(CaptureController& controller, const std::string& deviceName, const StreamSettings& settings)
{
    std::printf("> streaming from %s, %u frames per buffer, sending %s%s\n", deviceName.c_str(),
                controller.grantedBufferFrames(),
                settings.send == SendMode::block ? "after every block" : "every 5 ms",
                settings.interpolate ? ", positions interpolated" : "");
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        const DeckSettings& deck = settings.decks[i];
        std::printf("> deck %zu: channels %d/%d, %s, calibration %.2f, to %s:%d\n", i, 2 * deck.pair + 1,
                    2 * deck.pair + 2, deck.findVinyl ? "type found from the signal" : vinylFormat(deck.vinyl).name,
                    static_cast<double>(controller.deck(i).decoder().getCalibration()), settings.host.c_str(), deck.port);
    }
    std::fflush(stdout);
}

void streamDecks(CaptureController& controller, std::int16_t device, const StreamSettings& settings,
                 const Destinations& destinations)
{
    InputWatch watch(controller, device, settings.bufferFrames);
    const bool live = settings.report == StreamReport::live;
    const LiveStatus::Output output = !live                         ? LiveStatus::Output::none
                                      : ::isatty(STDOUT_FILENO) == 1 ? LiveStatus::Output::terminal
                                                                     : LiveStatus::Output::log;
    std::vector<bool> findVinyl;
    for (const DeckSettings& deck : settings.decks) findVinyl.push_back(deck.findVinyl);
    LiveStatus status(controller, output, settings.scope, findVinyl);
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
                for (std::size_t i = 0; i < controller.deckCount(); ++i) controller.deck(i).holdPosition();
                // Live status shows it in the deck lines.
                if (!live) std::printf("The audio input was lost; it is tried again every second.\n");
            } else {
                if (settings.report == StreamReport::dialogue)
                    std::printf("The audio input is back; streaming goes on.\n");
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

const std::string& ProgramCodeTable::load()
{
    if (tried) return problem;
    tried = true;
    std::string usedPath;
    std::string error;
    if (!codeTable.loadDefault(usedPath, error)) problem = error + codeTableHint();
    return problem;
}

void prepareDecks(CaptureController& controller, const StreamSettings& settings, const FinalScratchCodeTable& table)
{
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

int streamFromSettings(CaptureController& controller, const StreamSettings& settings, ProgramCodeTable& codeTable)
{
    const bool quiet = settings.report == StreamReport::quiet;
    const std::int32_t device = controller.findDevice(settings.device);
    if (device < 0) return failure("no input device \"" + settings.device + "\" (see --list-devices)");
    const std::string deviceName = controller.getName(device);
    const bool opened = controller.streamOpen();
    if (opened) {
        setLevels(controller, settings);
    } else {
        const std::int32_t channels = controller.getInputChannels(device);
        const int highest = std::max_element(settings.decks.begin(), settings.decks.end(), [](const DeckSettings& a,
                                             const DeckSettings& b) { return a.pair < b.pair; })->pair;
        if (2 * highest + 2 > channels)
            return failure("pair " + std::to_string(highest) + " needs channels " + std::to_string(2 * highest + 1) +
                           "/" + std::to_string(2 * highest + 2) + ", but the device has " + std::to_string(channels) +
                           " inputs");
        prepareDecks(controller, settings, codeTable.table());
    }

    Destinations destinations;
    for (const DeckSettings& deck : settings.decks) {
        std::string error;
        destinations.push_back(OscSender::create(settings.host.c_str(), deck.port, error));
        if (!destinations.back()) return failure(error);
    }
    const bool finalScratch = std::any_of(settings.decks.begin(), settings.decks.end(), [](const DeckSettings& deck) {
        return deck.vinyl == FinalScratch || deck.findVinyl;
    });
    // Once looked for (the dialogue does so when the vinyl is chosen), its problem has been told.
    if (finalScratch && !codeTable.lookedFor()) {
        if (const std::string& problem = codeTable.load(); !problem.empty()) std::printf("%s\n", problem.c_str());
    }

    const auto deviceIndex = static_cast<std::int16_t>(device);
    if (!opened) {
        if (!controller.open(deviceIndex, settings.bufferFrames, true))
            return failure("cannot open the audio device \"" + deviceName + "\": " + controller.openError());
        if (controller.grantedBufferFrames() != settings.bufferFrames && !quiet)
            std::printf("> the audio library granted %u frames per buffer (asked for %u)\n",
                        controller.grantedBufferFrames(), settings.bufferFrames);
        if (controller.realtimeRefused())
            std::printf("> the system refused realtime scheduling; the audio thread runs at normal priority\n");
        if (settings.preamp == PreampMode::automatic) raiseGains(controller, quiet);
    }
    if (settings.report == StreamReport::live) announce(controller, deviceName, settings);
    streamDecks(controller, deviceIndex, settings, destinations);
    return 0;
}

}  // namespace platora
