#include "SavedCalibration.h"

#include <cmath>
#include <fstream>
#include <locale>

namespace platora {

// The file reads "1.9" whatever locale the program may have made global: no comma as the
// decimal point, no digit grouping.

namespace {

// Opening a FIFO would wait for a writer (or a reader) for ever; a device never ends.
bool isRegularFile(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

bool existsAsOther(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored) && !isRegularFile(path);
}

}  // namespace

bool loadCalibrationValue(float& value, const std::filesystem::path& path) {
    if (!isRegularFile(path)) return false;
    std::ifstream file(path);
    if (!file) {
        return false;
    }
    file.imbue(std::locale::classic());
    float stored = 0.0f;
    // A failed extraction stores 0; like a negative value it decodes nothing, so such a file
    // counts as missing.
    if (!(file >> stored) || !std::isfinite(stored) || stored <= 0.0f) {
        return false;
    }
    value = stored;
    return true;
}

bool saveCalibrationValue(float value, const std::filesystem::path& path) {
    if (existsAsOther(path)) return false;
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    if (!file) {
        return false;
    }
    file.imbue(std::locale::classic());
    file << value << '\n';
    // Closing flushes; a full disk shows up only here.
    file.close();
    return !file.fail();
}

}  // namespace platora
