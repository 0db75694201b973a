#include "SavedCalibration.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <optional>
#include <string>

namespace platora {
namespace {

namespace fs = std::filesystem;

constexpr float untouched = 7.25f;  // no file in these tests holds it

class SettingsFile : public ::testing::Test {
protected:
    // Read as text: a line ends in CR LF on Windows.
    std::string content() const {
        std::ifstream in(file);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    const test::TempDirectory temporary;
    const fs::path directory = temporary.path;
    const fs::path file = directory / settingsFileName;
};

// The sweep adds 0.1 in double precision and keeps a float, so its values drift off the tenths.
float sweptValue(int count) {
    float swept = 0.1f;
    for (int step = 1; step < count; ++step) swept = static_cast<float>(swept + 0.1);
    return swept;
}

TEST_F(SettingsFile, ASavedValueReplacesTheFileWithItsTextInSixSignificantDigitsAndLoadsBack) {
    ASSERT_NE(sweptValue(10), 1.0f);
    ASSERT_NE(sweptValue(19), 1.9f);
    const std::pair<float, const char*> cases[] = {{1.9f, "1.9\n"},
                                                   {sweptValue(10), "1\n"},
                                                   {sweptValue(19), "1.9\n"},
                                                   {0.1f, "0.1\n"},
                                                   {1234567.0f, "1.23457e+06\n"}};
    for (const auto& [value, text] : cases) {
        std::ofstream(file) << "123456789.123\nan older, longer content\n";
        ASSERT_TRUE(saveCalibrationValue(value, file));
        EXPECT_EQ(content(), text);
        float loaded = untouched;
        EXPECT_TRUE(loadCalibrationValue(loaded, file));
        EXPECT_EQ(loaded, std::stof(text));
    }
}

TEST_F(SettingsFile, OnlyTheFirstNumberCountsAndAFileWithoutAPositiveFiniteOneCountsAsMissing) {
    const std::pair<const char*, std::optional<float>> cases[] = {{"2.5\nrubbish\n3.5\n", 2.5f},
                                                                  {" \n\t1.07abc", 1.07f},
                                                                  {"3", 3.0f},
                                                                  {"1e-30", 1e-30f},
                                                                  {"0\n", {}},
                                                                  {"-1.5\n", {}},
                                                                  {"", {}},
                                                                  {"\n", {}},
                                                                  {"abc\n", {}},
                                                                  {"x2.5\n", {}},
                                                                  {"nan\n", {}},
                                                                  {"inf\n", {}},
                                                                  {"-inf\n", {}},
                                                                  {"1e40\n", {}},
                                                                  {"-1e40\n", {}}};
    for (const auto& [text, stored] : cases) {
        std::ofstream(file) << text;
        float value = untouched;
        EXPECT_EQ(loadCalibrationValue(value, file), stored.has_value()) << text;
        EXPECT_EQ(value, stored.value_or(untouched)) << text;
    }
    fs::remove(file);
    float value = untouched;
    EXPECT_FALSE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, untouched);
}

TEST_F(SettingsFile, ADirectoryOrAFifoIsNeitherReadNorWrittenAndSavingReportsAMissingDirectoryOrAFullDevice) {
    std::vector<fs::path> others{file};
#ifndef _WIN32
    others.push_back(directory / "fifo.ini");
    ASSERT_EQ(::mkfifo(others.back().c_str(), 0600), 0);
#endif
    fs::create_directory(file);
    for (const fs::path& other : others) {
        float value = untouched;
        EXPECT_FALSE(loadCalibrationValue(value, other)) << other;  // a FIFO would block the open
        EXPECT_EQ(value, untouched);
        EXPECT_FALSE(saveCalibrationValue(1.9f, other)) << other;
    }
    const fs::path nowhere = directory / "missing" / settingsFileName;
    EXPECT_FALSE(saveCalibrationValue(1.9f, nowhere));
    EXPECT_FALSE(fs::exists(nowhere.parent_path()));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(saveCalibrationValue(1.9f, "/dev/full"));
    }
}

// A decimal comma and digit grouping, as a program-wide locale might bring.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(SettingsFile, WithoutAPathTheFileIsPlatoraExampleIniInTheWorkingDirectoryWhateverTheGlobalLocale) {
    const fs::path previousPath = fs::current_path();
    fs::current_path(directory);
    const std::locale previousLocale = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    const bool saved = saveCalibrationValue(1234.5f);
    float value = untouched;
    const bool loaded = loadCalibrationValue(value);
    std::locale::global(previousLocale);
    fs::current_path(previousPath);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(value, 1234.5f);
    EXPECT_EQ(content(), "1234.5\n");
    EXPECT_STREQ(settingsFileName, "PlatoraExample.ini");
}

}  // namespace
}  // namespace platora
