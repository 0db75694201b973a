#include "ConsoleControl.h"

#ifndef NOMINMAX
#define NOMINMAX  // windows.h would define min and max as macros
#endif
#include <windows.h>

#include <conio.h>

#include <algorithm>
#include <cstdio>

namespace platora {

std::atomic<bool> stopRequested{false};

namespace {

// Runs on a thread the console starts for the event. TRUE: handled, so an interrupt or a
// break does not end the process; a close, logoff or shutdown ends it after this returns,
// and the streaming loop gets what time Windows grants to finish its cycle.
BOOL WINAPI onConsoleEvent(DWORD eventCode) {
    consoleEventHandler(static_cast<int>(eventCode));
    return TRUE;
}

// Sleep counts in ticks of the system timer, 15.6 ms unless a program asks for finer: the
// 5 ms streaming cycle needs 1 ms ticks.
const struct FineTimer {
    FineTimer() { timeBeginPeriod(1); }
    ~FineTimer() { timeEndPeriod(1); }
} fineTimer;

}  // namespace

void consoleEventHandler(int eventCode) {
    switch (eventCode) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stopRequested.store(true, std::memory_order_relaxed);
            break;
        default:
            break;
    }
}

// A process started with Ctrl+C ignored gets the console's own handling back.
bool installSetupStopHandler() { return SetConsoleCtrlHandler(nullptr, FALSE) != 0; }

bool installStopHandler() { return SetConsoleCtrlHandler(&onConsoleEvent, TRUE) != 0; }

// Text printed so far sits in stdout's buffer; it reaches the console before the console
// API moves anything.

bool lineWaiting(int ms) {
    // Any key counts: the read that follows waits for Enter.
    for (int waited = 0;; waited += 10) {
        if (_kbhit() != 0) return true;
        if (waited >= ms) return false;
        Sleep(10);
    }
}

void clearScreen() {
    std::fflush(stdout);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO screen;
    if (!GetConsoleScreenBufferInfo(output, &screen)) return;  // not a console: nothing to clear
    const DWORD cells = static_cast<DWORD>(screen.dwSize.X) * static_cast<DWORD>(screen.dwSize.Y);
    const COORD home{0, 0};
    DWORD written = 0;
    FillConsoleOutputCharacterA(output, ' ', cells, home, &written);
    FillConsoleOutputAttribute(output, screen.wAttributes, cells, home, &written);
    SetConsoleCursorPosition(output, home);
}

void setCursorPosition(std::int16_t column, std::int16_t row) {
    std::fflush(stdout);
    SetConsoleCursorPosition(GetStdHandle(STD_OUTPUT_HANDLE),
                             COORD{std::max<SHORT>(column, 0), std::max<SHORT>(row, 0)});
}

void writeToStandardOutput(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

void terminalSize(int& columns, int& rows) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    const bool known = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) != 0;
    columns = known ? info.srWindow.Right - info.srWindow.Left + 1 : fallbackColumns;
    rows = known ? info.srWindow.Bottom - info.srWindow.Top + 1 : fallbackRows;
}

}  // namespace platora
