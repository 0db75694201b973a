#include "ConsoleControl.h"

#include <algorithm>
#include <array>
#include <csignal>
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

bool installStopHandler() {
    struct sigaction action {};
    action.sa_handler = consoleEventHandler;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART a stop signal would make a pending getchar return EOF and could cut a
    // printf short, on our thread or on the audio library's.
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (const int signalNumber : stopSignals) {
        installed = sigaction(signalNumber, &action, nullptr) == 0 && installed;
    }
    return installed;
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

void terminalSize(int& columns, int& rows) {
    winsize size{};
    const bool known = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
    columns = known ? size.ws_col : 80;
    rows = known ? size.ws_row : 24;
}

}  // namespace platora
