#include "Answers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace platora {
namespace {

// Keyboard input from a string, read as the dialogue reads it.
class Keyboard {
public:
    explicit Keyboard(const std::string& typed) : file(std::tmpfile()) {
        std::fputs(typed.c_str(), file);
        std::rewind(file);
    }
    ~Keyboard() { std::fclose(file); }
    std::string read(std::size_t limit) { return readAnswer(limit, file); }
    std::FILE* file;
};

TEST(Answers, aLongLineLeavesItsRestPendingForTheNextRead) {
    Keyboard keys("12345\n");
    EXPECT_EQ(keys.read(menuAnswerLimit), "1234");
    EXPECT_EQ(keys.read(menuAnswerLimit), "5");
    EXPECT_EQ(keys.read(menuAnswerLimit), "");  // end of input
}

TEST(Answers, aLineEndIsConsumedAndNotKept) {
    Keyboard keys("\n7\n");
    EXPECT_EQ(keys.read(menuAnswerLimit), "");
    EXPECT_EQ(keys.read(menuAnswerLimit), "7");
}

TEST(Answers, aPauseTakesExactlyOneCharacter) {
    Keyboard keys("xy\n");
    pauseForKey(keys.file);
    EXPECT_EQ(keys.read(menuAnswerLimit), "y");
}

TEST(Answers, hostAnswersTakeWholeHostNames) {
    const std::string longName(253, 'a');
    Keyboard keys("192.168.100.200\n" + longName + "b\n");
    EXPECT_EQ(keys.read(hostAnswerLimit), "192.168.100.200");
    EXPECT_EQ(keys.read(hostAnswerLimit), longName);
}

TEST(Answers, menuAnswersReadLikeAtoi) {
    EXPECT_EQ(parseMenuAnswer(""), 0);
    EXPECT_EQ(parseMenuAnswer("x"), 0);
    EXPECT_EQ(parseMenuAnswer(" 3x"), 3);
    EXPECT_EQ(parseMenuAnswer("-1"), -1);
}

TEST(Answers, choicesTruncateTowardZero) {
    for (const char* first : {"", "0", "0.7", "-0.5", "x"}) EXPECT_EQ(parseChoice(first), 0) << first;
    for (const char* second : {"1", "2", "-1", "1.5"}) EXPECT_EQ(parseChoice(second), 1) << second;
}

TEST(Answers, portsAreWholeNumbersFromOneTo65535) {
    int port = 0;
    EXPECT_TRUE(parsePort("", 44444, port));
    EXPECT_EQ(port, 44444);
    EXPECT_TRUE(parsePort("1", 44444, port));
    EXPECT_EQ(port, 1);
    EXPECT_TRUE(parsePort("65535", 44444, port));
    EXPECT_EQ(port, 65535);
    for (const char* bad : {"0", "65536", "abc", "12a", "-5", " 80", "99999"}) {
        port = 7;
        EXPECT_FALSE(parsePort(bad, 44444, port)) << bad;
        EXPECT_EQ(port, 7) << bad;
    }
}

}  // namespace
}  // namespace platora
