#pragma once

#include "TableLearner.h"

#include <iosfwd>
#include <string>

namespace platora {

// The report as the tool prints it.
std::string describe(const LearnReport& report, const LearnSettings& settings);

// `platora-table learn`: learns, prints the report on `out` and returns 0, or prints one
// line on `err` and returns 1. Shows progress on a terminal for long recordings.
int runLearn(const LearnSettings& settings, std::ostream& out, std::ostream& err);

}  // namespace platora
