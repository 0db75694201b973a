// The settings file on arbitrary contents: a value it takes is positive and finite, and one
// that a calibration could find comes back from a saved file to six significant digits.
#include "SavedCalibration.h"

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
constexpr float smallestChecked = 1e-30f, largestChecked = 1e30f;  // far beyond any calibration
constexpr float sixDigits = 1e-5f;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/platora-fuzz-settings-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    float value = 0.0f;
    if (!platora::loadCalibrationValue(value, path)) return 0;
    if (!std::isfinite(value) || value <= 0.0f) std::abort();
    if (value < smallestChecked || value > largestChecked) return 0;
    float again = 0.0f;
    if (!platora::saveCalibrationValue(value, path) || !platora::loadCalibrationValue(again, path) ||
        std::fabs(again - value) > sixDigits * value)
        std::abort();
    return 0;
}
