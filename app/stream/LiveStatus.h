#pragma once

#include "ConsoleWriter.h"
#include "DeckWatch.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// What each deck is doing, for the eyes of whoever watches the stream: on a terminal one
// line per deck redrawn in place (with an X-Y scope of its signal beside it if asked), else
// one line per deck when its state changes. Draws what the streaming loop's DeckWatches
// judged. Main thread; what it tells is written by a thread of its own (ConsoleWriter), so
// an unread terminal holds up nothing here.
class LiveStatus {
public:
    enum class Output {
        none,      // nothing told but the announcements
        log,       // a line per change
        terminal,  // lines redrawn in place
    };
    LiveStatus(Output output, bool scope = false);

    // Call after the watches' update, about ten times a second.
    void show(std::vector<DeckWatch>& watches, bool inputLost);
    // The input came back: logs say so once per deck.
    void rejoined(std::size_t deckCount);
    // A line of its own: on a terminal above the deck lines, which are drawn anew below it.
    void announce(const std::string& line);

    // One deck's line: position, speed, timecodes per second, level, signal quality and the
    // record's depth as robust mode measures it (0: not known, shown as --).
    static std::string describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                int qualityPercent, float depth, const std::string& state);

private:
    std::string terminalLines(std::size_t index, const DeckWatch& watch, std::size_t deckCount, bool inputLost,
                              std::size_t& lineCount) const;

    Output output;
    bool scope;
    ConsoleWriter console;
};

}  // namespace platora
