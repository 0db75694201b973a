#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <thread>

namespace platora {

// Standard output written from a thread of its own, so that a terminal nobody reads (output
// paused, a stalled SSH session, a pipe into a pager) never holds up the caller: the caller
// only hands text over. A redraw that finds the last one still unwritten replaces it; lines
// are kept in order, up to a limit past which the oldest go (and the output says how many).
// Lines and redraws may come from one thread at a time; nothing else writes to standard
// output while the writer lives (stdio is flushed as it starts).
class ConsoleWriter {
public:
    ConsoleWriter();
    // Waits up to drainLimit for what is pending; a writer still stuck then is left to end
    // with the process.
    ~ConsoleWriter();
    ConsoleWriter(const ConsoleWriter&) = delete;
    ConsoleWriter& operator=(const ConsoleWriter&) = delete;

    static constexpr std::size_t pendingLinesLimit = 256;
    static constexpr std::chrono::milliseconds drainLimit{500};

    // A line of its own (no newline): above the lines drawn in place, which it erases.
    void line(const std::string& text);
    // Lines drawn in place of the ones drawn last: `screen` is `lineCount` whole lines.
    void redraw(const std::string& screen, std::size_t lineCount);
    // Whether everything handed over was written within `limit`.
    bool drain(std::chrono::milliseconds limit);

private:
    struct Shared;
    static void writeAll(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared;
    std::thread writer;
};

}  // namespace platora
