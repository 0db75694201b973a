#pragma once

#include "CaptureController.h"
#include "ConsoleWriter.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// What a deck is doing or what is wrong with its signal. Fault states are told only once
// they have held a while, so a record that plays, stops and plays again raises none.
enum class DeckState {
    none,
    decoding,
    stopped,
    noSignal,
    tooQuiet,
    clipping,
    oneChannelSilent,
    wrongType,
    notInTable,
    noisy,
    backwards,
    speedOutOfRange,
    inputLost,
    endOfRecord,  // past the last cycle of a shift-register side
};

// A deck's signal over about the last second, formed from its counters.
struct DeckMeasures {
    std::int32_t vinylType = FinalScratch;
    std::array<std::int32_t, 2> level{};      // each channel's, in the last block
    std::array<double, 2> carrierHz{};        // half the zero crossings per second, each channel
    std::array<double, 2> recentCarrierHz{};  // the same since the look before
    double fullScaleShare = 0.0;              // of all samples
    double peaksPerSecond = 0.0;              // the decoder's
    double bitPeaksPerSecond = 0.0;           // of those, the ones that gave a bit
    std::uint32_t framesNotInTable = 0;       // in the last second
    std::int32_t timecodesPerSecond = 0;
    bool frameLately = false;  // since the look before
    float speed = 0.0f;
    bool speedOutOfRange = false;
    bool endOfRecord = false;
};

// The state these measures point to, before any holding; never none or inputLost.
DeckState judge(const DeckMeasures& measures);
// The pinned word of a state, and the hint that may follow it (empty for none).
const char* stateName(DeckState state);
std::string stateHint(DeckState state, const DeckMeasures& measures);

// One deck seen from the main thread about ten times a second: its counters over the last
// second, the state shown and the one waiting to be shown. With automatic type, it also
// tells the deck the type its signal shows. While the type is in doubt (automatic and not
// confirmed by a frame, a record of the other type seemingly put on, or a type shown as
// wrong) the deck withholds its readings (Deck::withhold).
class DeckWatch {
public:
    // An automatic deck withholds from here on: make the watch before anything is sent. The
    // deck must outlive the watch.
    explicit DeckWatch(Deck& deck, bool automaticType = false);

    // Call about ten times a second. Returns true when the shown state changed.
    bool update(bool inputLost);
    // The input came back: the state starts over.
    void restart() { shownState = candidate = DeckState::none; }

    DeckState shown() const { return shownState; }
    const DeckMeasures& measures() const { return now; }
    int qualityPercent() const;  // bits per peak over the last second; -1 without peaks
    // The type found since the last call, once per finding (-1: none).
    std::int32_t takeFoundType();
    // What the live line shows after the state: its hint, or the type found while decoding.
    std::string lineHint() const;

private:
    void findType();
    bool typeInDoubt() const;

    Deck* deck;
    bool automaticType;
    std::vector<SignalDiagnosis::Reading> signal;       // the last second's readings, oldest first
    std::vector<std::array<std::uint32_t, 3>> decoded;  // peaks, peaks with bits, frames not in table
    DeckMeasures now;
    DeckState shownState = DeckState::none;
    DeckState candidate = DeckState::none;
    int candidateUpdates = 0;
    int otherCarrierUpdates = 0;
    bool typeConfirmed = false;
    std::int32_t found = -1;
    std::int32_t lastFound = -1;
    std::uint32_t triedTypes = 0;  // bit per type tried since a type was last confirmed
};

// What each deck is doing, for the eyes of whoever watches the stream: on a terminal one
// line per deck redrawn in place (with an X-Y scope of its signal beside it if asked), else
// one line per deck when its state changes. Main thread; what it tells is written by a
// thread of its own (ConsoleWriter), so an unread terminal holds up nothing here.
class LiveStatus {
public:
    enum class Output {
        none,      // the states are judged (and types found) but not told
        log,       // a line per change
        terminal,  // lines redrawn in place
    };
    // automaticType: one entry per deck whose type is found from its signal.
    LiveStatus(CaptureController& controller, Output output, bool scope = false,
               const std::vector<bool>& automaticType = {});

    // Call about ten times a second.
    void update(bool inputLost);
    // The input came back: logs say so once per deck.
    void rejoined();
    // A line of its own: on a terminal above the deck lines, which are drawn anew below it.
    void announce(const std::string& line);

    // One deck's line: position, speed, timecodes per second, level and signal quality.
    static std::string describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                int qualityPercent, const std::string& state);

private:
    std::string terminalLines(std::size_t index, Deck& deck, const DeckWatch& watch, bool inputLost,
                              std::size_t& lineCount) const;

    CaptureController& controller;
    Output output;
    bool scope;
    ConsoleWriter console;
    std::vector<DeckWatch> watches;
};

}  // namespace platora
