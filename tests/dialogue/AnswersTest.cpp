#include "Answers.h"

#include <gtest/gtest.h>

#include <climits>
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

// What each menu makes of an answer: the number it starts with (menus), 0 or not (choices),
// a whole port from 1 to 65535 or the default (ports; 7: refused, the port untouched).
TEST(Answers, eachKindOfAnswerIsReadAsItsPromptSays) {
    constexpr int unchecked = INT_MIN;  // beyond int: only the port's reading is defined
    const struct {
        const char* typed;
        int menu, choice, port;
    } cases[] = {
        {"", 0, 0, 44444},          {"x", 0, 0, 7},
        {" 3x", 3, 1, 7},           {"-1", -1, 1, 7},
        {"0.7", 0, 0, 7},           {"-0.5", 0, 0, 7},
        {"1.5", 1, 1, 7},           {"1", 1, 1, 1},
        {"65535", 65535, 1, 65535}, {"0", 0, 0, 7},
        {"65536", 65536, 1, 7},     {"12a", 12, 1, 7},
        {" 80", 80, 1, 7},          {"99999999999999999999999", unchecked, 0, 7},
    };
    for (const auto& c : cases) {
        if (c.menu != unchecked) {
            EXPECT_EQ(parseMenuAnswer(c.typed), c.menu) << c.typed;
            EXPECT_EQ(parseChoice(c.typed), c.choice) << c.typed;
        }
        int port = 7;
        EXPECT_EQ(parsePort(c.typed, 44444, port), c.port != 7) << c.typed;
        EXPECT_EQ(port, c.port) << c.typed;
    }
}

}  // namespace
}  // namespace platora
