#include "Answers.h"

#include "ScratchMessages.h"

#include <cctype>
#include <cstdlib>

namespace platora {

namespace {
}  // namespace

std::string readAnswer(std::size_t limit, std::FILE* in) {
    std::fflush(stdout);
    std::string answer;
    bool anyCharacter = false;
    for (;;) {
        const int c = std::fgetc(in);
        if (c == EOF) {
            if (!anyCharacter) throw InputEnded();
            break;
        }
        anyCharacter = true;
        if (c == '\n') break;
        if (answer.size() < limit) answer.push_back(static_cast<char>(c));
    }
    return answer;
}

void pauseForKey(std::FILE* in) { readAnswer(0, in); }

int parseMenuAnswer(const std::string& answer) { return std::atoi(answer.c_str()); }

int parseChoice(const std::string& answer) {
    const double value = std::atof(answer.c_str());
    // Truncation toward zero: -0.5 and 0.7 both pick the first line.
    return value > -1.0 && value < 1.0 ? 0 : 1;
}

bool parsePort(const std::string& answer, int defaultPort, int& port) {
    if (answer.empty()) {
        port = defaultPort;
        return true;
    }
    long value = 0;
    for (char c : answer) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        // Stops growing past the range, so no length of digits can overflow.
        if (value <= highestPort) value = value * 10 + (c - '0');
    }
    if (value < lowestPort || value > highestPort) return false;
    port = static_cast<int>(value);
    return true;
}

}  // namespace platora
