#include "Answers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

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

TEST(Answers, eachReadTakesOneLineCutToTheLimitAndTheEndOfInputEndsTheDialogue) {
    const std::string longName(253, 'a');
    const struct {
        const char* typed;
        std::size_t limit;
        std::vector<std::string> answers;  // then the input has ended
    } cases[] = {
        {"12345\n7\n", menuAnswerLimit, {"1234", "7"}},
        {"1234\n\n", menuAnswerLimit, {"1234", ""}},  // the limit's length, then Enter
        {"continue\n1\n", menuAnswerLimit, {"cont", "1"}},
        {"4444444\n80\n", portAnswerLimit, {"444444", "80"}},
        {"\n7", menuAnswerLimit, {"", "7"}},  // a last line without a line end
        {"", menuAnswerLimit, {}},
        {"192.168.100.200\n", hostAnswerLimit, {"192.168.100.200"}},
    };
    for (const auto& c : cases) {
        Keyboard keys(c.typed);
        for (const std::string& answer : c.answers) EXPECT_EQ(keys.read(c.limit), answer) << c.typed;
        EXPECT_THROW(keys.read(c.limit), InputEnded) << c.typed;
    }
    Keyboard keys(longName + "b\nxy\nz\n");
    EXPECT_EQ(keys.read(hostAnswerLimit), longName);
    pauseForKey(keys.file);  // a pause takes its whole line
    EXPECT_EQ(keys.read(menuAnswerLimit), "z");
    EXPECT_THROW(pauseForKey(keys.file), InputEnded);
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
    for (const char* bad : {"0", "65536", "abc", "12a", "-5", " 80", "99999", "99999999999999999999999"}) {
        port = 7;
        EXPECT_FALSE(parsePort(bad, 44444, port)) << bad;
        EXPECT_EQ(port, 7) << bad;
    }
}

}  // namespace
}  // namespace platora
