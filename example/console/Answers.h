#pragma once

#include <cstdio>
#include <string>

namespace platora {

// How many characters each answer takes from the keyboard; the rest of a longer line
// stays pending for the next read.
inline constexpr std::size_t menuAnswerLimit = 4;
inline constexpr std::size_t portAnswerLimit = 6;
inline constexpr std::size_t hostAnswerLimit = 253;  // the longest DNS name

// Reads up to `limit` characters, stopping after a line end (consumed, not kept) or at
// the end of input. Flushes stdout first so that a prompt is visible before the wait.
std::string readAnswer(std::size_t limit, std::FILE* in = stdin);

// Takes exactly one character (with a line-buffered terminal, returns after Enter).
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
