#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace platora {

// Set by consoleEventHandler, never cleared. The streaming loop reads it once per cycle.
extern std::atomic<bool> stopRequested;
static_assert(std::atomic<bool>::is_always_lock_free, "the stop handler may only touch lock-free atomics");

// Sets stopRequested for an interrupt, break, closing console or logoff/shutdown; ignores
// anything else. The event is the platform's: a signal number on POSIX (SIGINT, SIGQUIT,
// SIGHUP, SIGTERM), a console control event code on Windows (CTRL_C_EVENT, CTRL_BREAK_EVENT,
// CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT). Async-signal-safe: it only
// stores the flag and returns at once.
void consoleEventHandler(int event);

// Until installStopHandler runs, those events end the process at once, as the platform's
// default does, also when the program was started with them ignored (a shell's background
// job inherits an ignored interrupt) or a library changed them. Call it first, from the
// main thread; returns false if it could not be set for all of them.
bool installSetupStopHandler();

// From here on those events only set stopRequested and the program runs on. On POSIX,
// interrupted system calls (console reads and writes, sleeps) resume. Returns false if the
// handler could not be installed for all of them; call it once, from the main thread.
bool installStopHandler();
// The same, saying on standard output when it failed: the program runs on without it.
inline void installStopHandlerOrWarn() {
    if (!installStopHandler()) std::printf("Unable to install close handler!\n");
}

// Whether a line (Enter, on a terminal) waits on standard input, waiting up to `ms` for one.
// The line is left there for the next read.
bool lineWaiting(int ms);

// Leaves the cursor at the top left of an empty screen. Stays in order with printf: stdout's
// stdio buffer is flushed. On Windows, does nothing when stdout is not a console.
void clearScreen();

// The next output starts at the given 0-based column and row; negatives count as 0.
void setCursorPosition(std::int16_t column, std::int16_t row);

// Writes the bytes to standard output past stdio, whole, however long that blocks; a failed
// write drops the rest. Takes no stdio lock, so a write stuck on a terminal nobody reads
// cannot hold up the process's end.
void writeToStandardOutput(std::string_view bytes);

// The size of the terminal standard output goes to, in character cells; the fallback size
// when standard output is no terminal or its size is not known.
inline constexpr int fallbackColumns = 80;
inline constexpr int fallbackRows = 24;
void terminalSize(int& columns, int& rows);

}  // namespace platora
