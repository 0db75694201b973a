#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

namespace platora {

// How many characters each answer takes from the keyboard; the rest of a longer line is
// discarded, so it never answers a later prompt.
inline constexpr std::size_t menuAnswerLimit = 4;
inline constexpr std::size_t portAnswerLimit = 6;
inline constexpr std::size_t hostAnswerLimit = 253;  // the longest DNS name

// Thrown by the reads below when the input has ended (or fails) before an answer.
class InputEnded : public std::runtime_error {
public:
    InputEnded() : std::runtime_error("the input ended") {}
};

// Reads one line and returns its first `limit` characters; the line end is consumed, not
// kept. Flushes stdout first so that a prompt is visible before the wait. A last line
// without a line end still counts; throws InputEnded when no line is left.
std::string readAnswer(std::size_t limit, std::FILE* in = stdin);

// Waits for a line (with a terminal: for Enter) and discards it; throws InputEnded when no
// line is left.
void pauseForKey(std::FILE* in = stdin);

// Leading blanks, an optional sign and decimal digits; no digits give 0.
int parseMenuAnswer(const std::string& answer);

// 0 picks the menu line that starts with 0, anything else the line that starts with 1;
// the answer is read as a number and truncated toward zero (empty, "x" and "0.7" give 0).
int parseChoice(const std::string& answer);

// A port answer: empty gives the default; otherwise a whole number from 1 to 65535,
// or false.
bool parsePort(const std::string& answer, int defaultPort, int& port);

}  // namespace platora
