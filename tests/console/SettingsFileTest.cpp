#include "SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <string>

namespace platora {
namespace {

namespace fs = std::filesystem;

constexpr float untouched = 7.25f;  // no file in these tests holds it

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "platora-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory = pattern;
        file = directory / settingsFileName;
    }
    void TearDown() override { fs::remove_all(directory); }

    void write(const std::string& content) const {
        std::ofstream(file, std::ios::binary) << content;
    }
    std::string content() const {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path directory;
    fs::path file;
};

TEST_F(SettingsFile, ASavedValueIsItsShortestTextAndOneLineEndAndLoadsBackExactly) {
    ASSERT_TRUE(saveCalibrationValue(1.9f, file));
    EXPECT_EQ(content(), "1.9\n");
    float value = untouched;
    EXPECT_TRUE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, 1.9f);
}

// The sweep adds 0.1 in double precision and keeps a float, so its values drift off the tenths.
float sweptValue(int count) {
    float swept = 0.1f;
    for (int step = 1; step < count; ++step) {
        swept = static_cast<float>(swept + 0.1);
    }
    return swept;
}

TEST_F(SettingsFile, ADriftedSweepValueIsStoredAsItsTenthWithSixSignificantDigits) {
    const float tenth = sweptValue(10);  // 1.00000012
    const float nineteenth = sweptValue(19);  // 1.90000033
    ASSERT_NE(tenth, 1.0f);
    ASSERT_NE(nineteenth, 1.9f);
    ASSERT_TRUE(saveCalibrationValue(tenth, file));
    EXPECT_EQ(content(), "1\n");
    ASSERT_TRUE(saveCalibrationValue(nineteenth, file));
    EXPECT_EQ(content(), "1.9\n");
    ASSERT_TRUE(saveCalibrationValue(0.1f, file));
    EXPECT_EQ(content(), "0.1\n");
    ASSERT_TRUE(saveCalibrationValue(1234567.0f, file));
    EXPECT_EQ(content(), "1.23457e+06\n");
}

TEST_F(SettingsFile, OnlyTheFirstNumberCountsWhateverFollows) {
    float value = untouched;
    write("2.5\nrubbish\n3.5\n");
    EXPECT_TRUE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, 2.5f);
    write(" \n\t1.07abc");
    EXPECT_TRUE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, 1.07f);
    write("3");
    EXPECT_TRUE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, 3.0f);
}

TEST_F(SettingsFile, AStoredZeroIsStillAStoredValue) {
    write("0\n");
    float value = untouched;
    EXPECT_TRUE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, 0.0f);
}

TEST_F(SettingsFile, AMissingFileLeavesTheValueUntouched) {
    float value = untouched;
    EXPECT_FALSE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, untouched);
}

class SettingsFileWithoutANumber : public SettingsFile, public ::testing::WithParamInterface<const char*> {};

TEST_P(SettingsFileWithoutANumber, CountsAsMissingAndLeavesTheValueUntouched) {
    write(GetParam());
    float value = untouched;
    EXPECT_FALSE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, untouched);
}

INSTANTIATE_TEST_SUITE_P(Contents, SettingsFileWithoutANumber,
                         ::testing::Values("", "\n", "abc\n", "x2.5\n", "nan\n", "inf\n", "-inf\n",
                                           "1e40\n", "-1e40\n"));

TEST_F(SettingsFile, ADirectoryInPlaceOfTheFileCanNeitherBeLoadedNorSaved) {
    fs::create_directory(file);
    float value = untouched;
    EXPECT_FALSE(loadCalibrationValue(value, file));
    EXPECT_EQ(value, untouched);
    EXPECT_FALSE(saveCalibrationValue(1.9f, file));
}

TEST_F(SettingsFile, SavingOverAnExistingFileReplacesAllOfIt) {
    write("123456789.123\nan older, longer content\n");
    ASSERT_TRUE(saveCalibrationValue(0.1f, file));
    EXPECT_EQ(content(), "0.1\n");
}

TEST_F(SettingsFile, SavingIntoAMissingDirectoryFailsAndCreatesNothing) {
    const fs::path nowhere = directory / "missing" / settingsFileName;
    EXPECT_FALSE(saveCalibrationValue(1.9f, nowhere));
    EXPECT_FALSE(fs::exists(nowhere.parent_path()));
}

TEST_F(SettingsFile, SavingToAFullDeviceFails) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    EXPECT_FALSE(saveCalibrationValue(1.9f, "/dev/full"));
}

TEST_F(SettingsFile, WithoutAPathTheFileIsPlatoraExampleIniInTheWorkingDirectory) {
    const fs::path previous = fs::current_path();
    fs::current_path(directory);
    const bool saved = saveCalibrationValue(1.2f);
    float value = untouched;
    const bool loaded = loadCalibrationValue(value);
    fs::current_path(previous);
    EXPECT_TRUE(saved);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(value, 1.2f);
    EXPECT_EQ(content(), "1.2\n");
    EXPECT_STREQ(settingsFileName, "PlatoraExample.ini");
}

// A decimal comma and digit grouping, as a program-wide locale might bring.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST_F(SettingsFile, TheTextIsTheSameWhateverLocaleTheProgramMadeGlobal) {
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    const bool saved = saveCalibrationValue(1234.5f, file);
    const std::string text = content();
    float value = untouched;
    const bool loaded = loadCalibrationValue(value, file);
    std::locale::global(previous);
    EXPECT_TRUE(saved);
    EXPECT_EQ(text, "1234.5\n");
    EXPECT_TRUE(loaded);
    EXPECT_EQ(value, 1234.5f);
}

}  // namespace
}  // namespace platora
