#include "ConsoleControl.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>

namespace platora {
namespace {

#ifdef _WIN32
TEST(StopHandler, TheFiveConsoleStopEventsSetTheFlagAndOthersLeaveItClear) {
    ASSERT_TRUE(installStopHandler());
    // Interrupt, break, close, logoff, shutdown; 3 and 4 are no events of Windows'.
    const std::pair<int, bool> cases[] = {{0, true},  {1, true}, {2, true}, {3, false},
                                          {4, false}, {5, true}, {6, true}, {7, false}};
    for (const auto& [event, stops] : cases) {
        stopRequested = false;
        consoleEventHandler(event);
        EXPECT_EQ(stopRequested.load(), stops) << event;
    }
    stopRequested = false;
}
#else
// Every case that may set the flag runs in a child process: nothing clears it again.
constexpr int flagSet = 0;
constexpr int flagClear = 1;

[[noreturn]] void exitWithFlag() { std::exit(stopRequested.load() ? flagSet : flagClear); }

[[noreturn]] void installAndRaiseTwice(int signalNumber) {
    if (!installStopHandler()) std::exit(EXIT_FAILURE);
    std::raise(signalNumber);
    std::raise(signalNumber);
    exitWithFlag();
}

TEST(StopHandler, EachStopSignalSetsTheFlagEveryTimeAndTheProgramRunsOn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        EXPECT_EXIT(installAndRaiseTwice(signalNumber), ::testing::ExitedWithCode(flagSet), "")
            << strsignal(signalNumber);
}

[[noreturn]] void handleOtherSignals() {
    for (const int signalNumber : {SIGUSR1, SIGUSR2, SIGALRM, SIGWINCH, 0}) consoleEventHandler(signalNumber);
    exitWithFlag();
}

TEST(StopHandler, OtherSignalsLeaveTheFlagClear) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(handleOtherSignals(), ::testing::ExitedWithCode(flagClear), "");
}

// True once the thread sleeps inside the read system call.
bool blockedInRead(pid_t thread) {
    const std::string task = "/proc/self/task/" + std::to_string(thread);
    std::ifstream syscallFile(task + "/syscall");
    long number = -1;
    syscallFile >> number;
    std::ifstream statFile(task + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const std::size_t afterName = stat.rfind(')');
    return number == SYS_read && afterName != std::string::npos && stat.compare(afterName, 3, ") S") == 0;
}

// A stop signal arrives while the main thread waits for console input, as getchar does at a
// pause: the read goes on and still gets its character.
[[noreturn]] void interruptABlockingRead() {
    int pipeEnds[2];
    if (!installStopHandler() || ::pipe(pipeEnds) != 0) std::exit(EXIT_FAILURE);
    const auto reader = static_cast<pid_t>(::syscall(SYS_gettid));
    const pthread_t readerThread = ::pthread_self();
    std::thread typist([&] {
        while (!blockedInRead(reader)) std::this_thread::yield();
        ::pthread_kill(readerThread, SIGINT);
        // Typed only after the handler has run: a key already waiting would let the read
        // complete however the signal is handled.
        while (!stopRequested.load()) std::this_thread::yield();
        (void)!::write(pipeEnds[1], "\n", 1);
    });
    char key = 0;
    const ssize_t size = ::read(pipeEnds[0], &key, 1);
    typist.join();
    if (size != 1) std::exit(EXIT_FAILURE);
    exitWithFlag();
}

TEST(StopHandler, AStopSignalDuringABlockingReadSetsTheFlagAndTheReadCompletes) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer holds a signal back until the blocking read has returned";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(interruptABlockingRead(), ::testing::ExitedWithCode(flagSet), "");
}

TEST(ConsoleScreen, CursorPositionsAreSentOneBasedRowFirstAndNegativesStayOnScreen) {
    const std::tuple<std::int16_t, std::int16_t, const char*> cases[] = {
        {0, 14, "\x1b[15;1H"}, {7, 0, "\x1b[1;8H"},         {0, 0, "\x1b[1;1H"},
        {-1, -5, "\x1b[1;1H"}, {INT16_MIN, 2, "\x1b[3;1H"}, {INT16_MAX, INT16_MAX, "\x1b[32768;32768H"}};
    for (const auto& [column, row, sent] : cases) {
        testing::internal::CaptureStdout();
        setCursorPosition(column, row);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), sent) << column << ", " << row;
    }
}

#endif

TEST(ConsoleScreen, ScreenControlStaysInOrderWithPrintfOutput) {
    // Standard output to a file is fully buffered: a control sequence written past the stdio
    // buffer would land before the text printed ahead of it.
    testing::internal::CaptureStdout();
    std::printf("banner\n");
    clearScreen();
    std::printf("calculate");
    setCursorPosition(0, 14);
    std::printf("time left");
#ifdef _WIN32
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "banner\ncalculatetime left");  // not a console: no control
#else
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "banner\n\x1b[H\x1b[2J\x1b[3Jcalculate\x1b[15;1Htime left");
#endif
}

}  // namespace
}  // namespace platora
