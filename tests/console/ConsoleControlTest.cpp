#include "ConsoleControl.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace platora {
namespace {

// Every case that may set the flag runs in a child process: nothing clears it again.
constexpr int flagSet = 0;
constexpr int flagClear = 1;
constexpr int readInterrupted = 2;

[[noreturn]] void exitWithFlag() {
    std::exit(stopRequested.load() ? flagSet : flagClear);
}

struct StopSignal {
    int number;
    const char* name;
};

class EachStopSignal : public ::testing::TestWithParam<StopSignal> {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

[[noreturn]] void installAndRaise(int signalNumber) {
    if (!installStopHandler()) {
        std::exit(EXIT_FAILURE);
    }
    std::raise(signalNumber);
    exitWithFlag();
}

TEST_P(EachStopSignal, SetsTheFlagAndTheProgramRunsOn) {
    EXPECT_EXIT(installAndRaise(GetParam().number), ::testing::ExitedWithCode(flagSet), "");
}

TEST_P(EachStopSignal, EndsTheProgramAtOnceBeforeTheHandlerIsInstalled) {
    EXPECT_EXIT(std::raise(GetParam().number), ::testing::KilledBySignal(GetParam().number), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, EachStopSignal,
                         ::testing::Values(StopSignal{SIGINT, "Interrupt"}, StopSignal{SIGQUIT, "Break"},
                                           StopSignal{SIGHUP, "TerminalClosed"},
                                           StopSignal{SIGTERM, "LogoffOrShutdown"}),
                         [](const ::testing::TestParamInfo<StopSignal>& info) { return info.param.name; });

[[noreturn]] void raiseEveryStopSignalTwice() {
    if (!installStopHandler()) {
        std::exit(EXIT_FAILURE);
    }
    for (int round = 0; round < 2; ++round) {
        for (const int signalNumber : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
            std::raise(signalNumber);
        }
    }
    exitWithFlag();
}

TEST(StopHandler, SeveralStopSignalsLeaveTheFlagSetAndTheProgramRunning) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(raiseEveryStopSignalTwice(), ::testing::ExitedWithCode(flagSet), "");
}

[[noreturn]] void handleOtherSignals() {
    for (const int signalNumber : {SIGUSR1, SIGUSR2, SIGALRM, SIGWINCH, 0}) {
        consoleEventHandler(signalNumber);
    }
    exitWithFlag();
}

TEST(StopHandler, OtherSignalsLeaveTheFlagClear) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(handleOtherSignals(), ::testing::ExitedWithCode(flagClear), "");
}

TEST(StopHandler, TheFlagIsClearAtStart) {
    EXPECT_FALSE(stopRequested.load());
}

#if defined(__SANITIZE_THREAD__)
constexpr bool underThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool underThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool underThreadSanitizer = false;
#endif

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
// pause after the handler is installed: the read goes on and still gets its character.
[[noreturn]] void interruptABlockingRead() {
    int pipeEnds[2];
    if (!installStopHandler() || ::pipe(pipeEnds) != 0) {
        std::exit(EXIT_FAILURE);
    }
    const pid_t reader = static_cast<pid_t>(::syscall(SYS_gettid));
    const pthread_t readerThread = ::pthread_self();
    std::thread typist([&] {
        while (!blockedInRead(reader)) {
            std::this_thread::yield();
        }
        ::pthread_kill(readerThread, SIGINT);
        // Typed only after the handler has run: a key already waiting would let the read
        // complete however the signal is handled.
        while (!stopRequested.load()) {
            std::this_thread::yield();
        }
        const char key = '\n';
        (void)!::write(pipeEnds[1], &key, 1);
    });
    char key = 0;
    const ssize_t size = ::read(pipeEnds[0], &key, 1);
    const int readError = errno;
    typist.join();
    if (size != 1) {
        std::exit(readError == EINTR ? readInterrupted : EXIT_FAILURE);
    }
    exitWithFlag();
}

TEST(StopHandler, AStopSignalDuringABlockingReadSetsTheFlagAndTheReadCompletes) {
    if (underThreadSanitizer) {
        GTEST_SKIP() << "ThreadSanitizer holds a signal back until the blocking read has returned";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(interruptABlockingRead(), ::testing::ExitedWithCode(flagSet), "");
}

// Runs action with standard output going to a temporary file and returns what it printed.
template <typename Action>
std::string printedBy(Action action) {
    std::fflush(stdout);
    std::FILE* capture = std::tmpfile();
    const int savedStdout = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(capture), STDOUT_FILENO);
    action();
    std::fflush(stdout);
    ::dup2(savedStdout, STDOUT_FILENO);
    ::close(savedStdout);
    std::rewind(capture);
    std::string text;
    for (int c = std::fgetc(capture); c != EOF; c = std::fgetc(capture)) {
        text.push_back(static_cast<char>(c));
    }
    std::fclose(capture);
    return text;
}

TEST(ConsoleScreen, ClearScreenHomesTheCursorAndErasesScreenAndScrollback) {
    EXPECT_EQ(printedBy([] { clearScreen(); }), "\x1b[H\x1b[2J\x1b[3J");
}

TEST(ConsoleScreen, CursorPositionsAreSentOneBasedRowFirst) {
    EXPECT_EQ(printedBy([] { setCursorPosition(0, 14); }), "\x1b[15;1H");
    EXPECT_EQ(printedBy([] { setCursorPosition(0, 13); }), "\x1b[14;1H");
    EXPECT_EQ(printedBy([] { setCursorPosition(7, 0); }), "\x1b[1;8H");
    EXPECT_EQ(printedBy([] { setCursorPosition(0, 0); }), "\x1b[1;1H");
}

TEST(ConsoleScreen, CursorPositionsAtTheEdgesOfTheirRangeStayValid) {
    EXPECT_EQ(printedBy([] { setCursorPosition(-1, -5); }), "\x1b[1;1H");
    EXPECT_EQ(printedBy([] { setCursorPosition(INT16_MIN, 2); }), "\x1b[3;1H");
    EXPECT_EQ(printedBy([] { setCursorPosition(INT16_MAX, INT16_MAX); }), "\x1b[32768;32768H");
}

TEST(ConsoleScreen, ScreenControlStaysInOrderWithPrintfOutput) {
    // Standard output to a file is fully buffered: a control sequence written past the stdio
    // buffer would land before the text printed ahead of it.
    const std::string printed = printedBy([] {
        std::printf("banner\n");
        clearScreen();
        std::printf("calculate");
        setCursorPosition(0, 14);
        std::printf("time left");
    });
    EXPECT_EQ(printed, "banner\n\x1b[H\x1b[2J\x1b[3Jcalculate\x1b[15;1Htime left");
}

}  // namespace
}  // namespace platora
