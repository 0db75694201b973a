#pragma once

#include <filesystem>

namespace platora {

// In the current working directory: one calibration value as text and a line end.
// The old name stays: calibrations users stored under it are still found.
inline constexpr const char* settingsFileName = "PlatoraExample.ini";

// Reads the first number of the file into value. Returns false, leaving value untouched,
// when the path is not a regular file, cannot be opened or does not start with a positive
// finite number.
bool loadCalibrationValue(float& value, const std::filesystem::path& path = settingsFileName);

// Replaces the file's content with value in its shortest form (six significant digits:
// 1.9, 2.3, 0.1) and a line end. Returns whether all of it was written; false at once for
// a path that exists but is not a regular file.
bool saveCalibrationValue(float value, const std::filesystem::path& path = settingsFileName);

}  // namespace platora
