#include "ConsoleControl.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace platora {

std::atomic<bool> stopRequested{false};

namespace {

// Ctrl+C, Ctrl+\, the terminal closing, and logoff or shutdown.
constexpr std::array stopSignals{SIGINT, SIGQUIT, SIGHUP, SIGTERM};

}  // namespace

void consoleEventHandler(int signalNumber) {
    if (std::find(stopSignals.begin(), stopSignals.end(), signalNumber) != stopSignals.end()) {
        stopRequested.store(true, std::memory_order_relaxed);
    }
}

namespace {

// SA_RESETHAND has put the default action back; the raised signal waits until this returns.
void endAtOnce(int signalNumber) { std::raise(signalNumber); }

bool setForAll(void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    bool installed = true;
    for (const int signalNumber : stopSignals) {
        installed = sigaction(signalNumber, &action, nullptr) == 0 && installed;
    }
    return installed;
}

}  // namespace

bool installSetupStopHandler() { return setForAll(endAtOnce, SA_RESETHAND); }

bool installStopHandler() {
    // Without SA_RESTART a stop signal would make a pending getchar return EOF and could cut a
    // printf short, on our thread or on the audio library's.
    return setForAll(consoleEventHandler, SA_RESTART);
}

bool lineWaiting(int ms) {
    // A terminal in its usual line mode wakes poll only at Enter; an ended input counts too.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return ::poll(&input, 1, ms) > 0;
}

void clearScreen() {
    // Home, erase the screen, erase the scrollback: what clear(1) sends to an xterm-like terminal.
    std::fputs("\x1b[H\x1b[2J\x1b[3J", stdout);
    std::fflush(stdout);
}

void setCursorPosition(std::int16_t column, std::int16_t row) {
    // The terminal counts rows and columns from 1.
    std::printf("\x1b[%d;%dH", std::max<int>(row, 0) + 1, std::max<int>(column, 0) + 1);
    std::fflush(stdout);
}

void writeToStandardOutput(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void terminalSize(int& columns, int& rows) {
    winsize size{};
    const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
    columns = known ? size.ws_col : fallbackColumns;
    rows = known ? size.ws_row : fallbackRows;
}

}  // namespace platora
