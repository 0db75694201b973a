#pragma once

#include <atomic>
#include <cstdint>

namespace platora {

// Set by consoleEventHandler, never cleared. The streaming loop reads it once per cycle.
extern std::atomic<bool> stopRequested;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop handler may only touch lock-free atomics");

// Sets stopRequested for an interrupt, break, closing terminal or logoff/shutdown; ignores
// anything else. Async-signal-safe: it only stores the flag and returns at once.
void consoleEventHandler(int signalNumber);

// From here on those four events only set stopRequested and the program runs on. Interrupted
// system calls (console reads and writes, sleeps) resume. Returns false if the handler could
// not be installed for all four; call it once, from the main thread.
bool installStopHandler();

// Leaves the cursor at the top left of an empty screen. Output goes through stdout's stdio
// buffer, which is flushed, so it stays in order with printf.
void clearScreen();

// The next output starts at the given 0-based column and row; negatives count as 0.
void setCursorPosition(std::int16_t column, std::int16_t row);

}  // namespace platora
