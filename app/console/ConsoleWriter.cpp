#include "ConsoleWriter.h"

#include "ConsoleControl.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>

namespace platora {

namespace {

std::string cursorUp(std::size_t lines) { return "\x1b[" + std::to_string(lines) + "A"; }

// Back to the start of the first line drawn in place, and everything below erased.
constexpr const char* eraseBelow = "\r\x1b[J";

}  // namespace

struct ConsoleWriter::Shared {
    struct Redraw {
        std::string screen;
        std::size_t lineCount;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;
    std::size_t linesDropped = 0;
    std::optional<Redraw> redraw;
    bool writing = false;
    bool closing = false;
    std::size_t linesOnScreen = 0;  // writer thread only: drawn in place by the last redraw

    bool idle() const { return lines.empty() && !redraw && !writing; }

    // With the mutex held: what is pending, as the bytes to write.
    std::string take() {
        std::string out;
        if (linesDropped > 0 || !lines.empty()) {
            if (linesOnScreen > 0) out += cursorUp(linesOnScreen) + eraseBelow;
            linesOnScreen = 0;
        }
        if (linesDropped > 0)
            out += "(" + std::to_string(linesDropped) + " lines not shown: the output was not read)\n";
        linesDropped = 0;
        for (const std::string& line : lines) out += line + "\n";
        lines.clear();
        if (redraw) {
            if (linesOnScreen > 0) out += cursorUp(linesOnScreen);
            out += redraw->screen;
            out += "\x1b[J";  // what a taller drawing left below
            linesOnScreen = redraw->lineCount;
            redraw.reset();
        }
        return out;
    }
};

ConsoleWriter::ConsoleWriter() : shared(std::make_shared<Shared>()) {
    std::fflush(stdout);  // what stdio holds goes first
    writer = std::thread(writeAll, shared);
}

ConsoleWriter::~ConsoleWriter() {
    const bool drained = drain(drainLimit);
    {
        const std::lock_guard lock(shared->mutex);
        shared->closing = true;
    }
    shared->changed.notify_all();
    // Stuck in a write nobody reads: it holds its own share of the state.
    if (drained)
        writer.join();
    else
        writer.detach();
}

void ConsoleWriter::line(const std::string& text) {
    {
        const std::lock_guard lock(shared->mutex);
        shared->lines.push_back(text);
        if (shared->lines.size() > pendingLinesLimit) {
            shared->lines.pop_front();
            ++shared->linesDropped;
        }
    }
    shared->changed.notify_all();
}

void ConsoleWriter::redraw(const std::string& screen, std::size_t lineCount) {
    {
        const std::lock_guard lock(shared->mutex);
        shared->redraw = Shared::Redraw{screen, lineCount};
    }
    shared->changed.notify_all();
}

bool ConsoleWriter::drain(std::chrono::milliseconds limit) {
    std::unique_lock lock(shared->mutex);
    return shared->changed.wait_for(lock, limit, [&] { return shared->idle(); });
}

void ConsoleWriter::writeAll(const std::shared_ptr<Shared>& shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->changed.wait(lock, [&] { return shared->closing || !shared->idle(); });
        if (shared->idle()) return;  // closing
        const std::string bytes = shared->take();
        shared->writing = true;
        lock.unlock();
        writeToStandardOutput(bytes);  // may block for as long as nobody reads
        lock.lock();
        shared->writing = false;
        shared->changed.notify_all();
    }
}

}  // namespace platora
