#pragma once

#include "SignalDiagnosis.h"

#include <array>
#include <string>
#include <vector>

namespace platora {

// An X-Y scope of the points, left channel across and right channel up, full scale filling
// `columns` x `rows` character cells of Unicode braille (2 x 4 dots each, UTF-8); empty
// cells are spaces. A clean record draws a ring, a silent channel a line, clipping a square,
// noise a smear. Returns `rows` strings.
std::vector<std::string> drawScope(const std::array<ScopeTap::Point, ScopeTap::points>& points, int columns, int rows);

}  // namespace platora
