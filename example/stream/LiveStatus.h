#pragma once

#include "CaptureController.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// What each deck is doing, for the eyes of whoever watches the stream: on a terminal one
// line per deck redrawn in place, else one line per deck when its state changes (decoding,
// stopped, no signal, input lost, rejoined). Main thread.
class LiveStatus {
public:
    LiveStatus(CaptureController& controller, bool onTerminal);

    // Call about ten times a second.
    void update(bool inputLost);
    // The input came back: logs say so once per deck.
    void rejoined();
    // A line of its own: on a terminal above the deck lines, which are drawn anew below it.
    void announce(const std::string& line);

    // One deck's line: position, speed, timecodes per second, level and signal quality.
    static std::string describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                int qualityPercent, const char* state);

private:
    enum class State { none, decoding, stopped, noSignal, inputLost };
    struct Tracked {
        std::vector<std::uint32_t> peaks, bitPeaks;  // the last second's counts, oldest first
        State shown = State::none;
        State candidate = State::none;
        int candidateUpdates = 0;
    };

    State stateOf(const Deck& deck, bool inputLost) const;
    int qualityPercent(Tracked& tracked, const Deck& deck);
    static const char* name(State state);

    CaptureController& controller;
    bool onTerminal;
    bool drawn = false;
    std::vector<Tracked> tracked;
};

}  // namespace platora
