#include "LiveStatus.h"

#include "ConsoleControl.h"
#include "ScopeDrawing.h"
#include "ScratchMessages.h"

#include <algorithm>
#include <cstdio>

namespace platora {

namespace {

constexpr int scopeRowsMin = 3;
constexpr int scopeRowsMax = 8;

}  // namespace

LiveStatus::LiveStatus(Output output, bool scope) : output(output), scope(scope) {}

std::string LiveStatus::describe(std::size_t index, float position, float speed, std::int32_t tps, std::int32_t level,
                                 int qualityPercent, float depth, const std::string& state) {
    char quality[16] = "  --";
    if (qualityPercent >= 0) std::snprintf(quality, sizeof quality, "%3d%%", qualityPercent);
    char depthText[16] = "  --";
    if (depth > 0.0f) std::snprintf(depthText, sizeof depthText, "%4.2f", static_cast<double>(depth));
    char line[176];
    std::snprintf(line, sizeof line,
                  "deck %zu: position %9.3f s  speed %7.1f %%  tps %4d  level %5.3f  quality %s  depth %s  ", index,
                  static_cast<double>(position), speed * speedPercent, static_cast<int>(tps), level / levelFullScale,
                  quality, depthText);
    return line + state;
}

void LiveStatus::show(std::vector<DeckWatch>& watches, bool inputLost) {
    std::string screen;
    std::size_t lines = 0;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        DeckWatch& watch = watches[i];
        const bool changed = watch.takeChange();
        const std::optional<VinylType> found = watch.takeFoundType();
        if (output == Output::terminal) {
            screen += terminalLines(i, watch, watches.size(), inputLost, lines);
            continue;
        }
        if (output != Output::log) continue;
        const std::string name = "deck " + std::to_string(i) + ": ";
        if (found) console.line(name + "found " + vinylFormat(*found).optionName);
        if (changed) {
            const std::string hint = stateHint(watch.shown(), watch.measures());
            console.line(name + stateName(watch.shown()) + (hint.empty() ? "" : ": ") + hint);
        }
    }
    if (output == Output::terminal) console.redraw(screen, lines);
}

std::string LiveStatus::terminalLines(std::size_t index, const DeckWatch& watch, std::size_t deckCount,
                                      bool inputLost, std::size_t& lineCount) const {
    const Deck& deck = watch.watched();
    std::string state = stateName(watch.shown());
    if (const std::string hint = watch.lineHint(); !hint.empty()) state += ": " + hint;
    // Erase each line, then write it: no trailing leftovers from a longer one.
    const std::string erase = "\r\x1b[2K";
    // The values sent, not the decoder's: while the input is lost they differ.
    const DeckReading sent = deck.reading(inputLost);
    const std::string line =
        describe(index, sent.position, sent.speed, sent.timecodesPerSecond, sent.level, watch.qualityPercent(),
                 deck.decoder().depth(), state);
    int columns = 0;
    int rows = 0;
    terminalSize(columns, rows);
    // A line longer than the terminal would wrap, and the redraw would no longer find its start.
    const auto width = static_cast<std::size_t>(std::max(columns - 1, 1));
    const std::string figures = line.substr(0, line.size() - state.size());
    if (!scope) {
        if (line.size() <= width) {
            ++lineCount;
            return erase + line + "\n";
        }
        lineCount += 2;
        return erase + figures.substr(0, width) + "\n" + erase + "  " + state.substr(0, width - 2) + "\n";
    }
    const int deckRows = std::clamp((rows - 1) / static_cast<int>(deckCount), scopeRowsMin, scopeRowsMax);
    const int scopeColumns = 2 * deckRows;  // a braille dot is as wide as it is tall
    const auto textColumns = static_cast<std::size_t>(std::max(columns - scopeColumns - 3, 0));
    // The live line beside the scope's first row, its state beside the second.
    const std::vector<std::string> drawing = drawScope(deck.scope().copy(), scopeColumns, deckRows);
    std::string out;
    for (int r = 0; r < deckRows; ++r) {
        const std::string text = r == 0 ? figures : r == 1 ? state : "";
        out += erase + drawing[static_cast<std::size_t>(r)] + "  " + text.substr(0, textColumns) + "\n";
    }
    lineCount += static_cast<std::size_t>(deckRows);
    return out;
}

void LiveStatus::announce(const std::string& line) { console.line(line); }

void LiveStatus::rejoined(std::size_t deckCount) {
    if (output != Output::log) return;
    for (std::size_t i = 0; i < deckCount; ++i) console.line("deck " + std::to_string(i) + ": rejoined");
}

}  // namespace platora
