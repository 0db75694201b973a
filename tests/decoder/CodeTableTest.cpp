#include "FinalScratchCodeTable.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace platora {
namespace {

namespace fs = std::filesystem;

class CodeTable : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("platora-table-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::vector<unsigned char>& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    fs::path dir;
    FinalScratchCodeTable table;
    std::string error;
};

const std::vector<FinalScratchCodeTable::Row> someRows = {
    {0xE00001E4, 24706}, {0xE0000B05, 54760}, {0xE00011AE, 1652}, {0xE003B41F, 0},
    {0xE00A89BF, 254853}, {0xE00A89BF, 276723}, {0xEFFF7D04, 26615705},
};

TEST_F(CodeTable, lookupReturnsTheFirstRowOfACodeAndNothingBetweenCodes) {
    ASSERT_TRUE(table.assign(someRows));
    EXPECT_EQ(table.lookup(0xE00001E4), 24706u);
    EXPECT_EQ(table.lookup(0xEFFF7D04), 26615705u);
    EXPECT_EQ(table.lookup(0xE003B41F), 0u);
    EXPECT_EQ(table.lookup(0xE00A89BF), 254853u);
    EXPECT_FALSE(table.lookup(0xE00001E5));
    EXPECT_FALSE(table.lookup(0x00000000));
    EXPECT_FALSE(table.lookup(0xFFFFFFFF));
}

TEST_F(CodeTable, lookupAgreesWithAScanFromRowZero) {
    std::vector<FinalScratchCodeTable::Row> rows;
    for (std::uint32_t i = 0; i < 3000; ++i) rows.push_back({0xE0000000u + (i / 3) * 7, i});
    ASSERT_TRUE(table.assign(rows));
    for (std::uint32_t code = 0xE0000000u - 2; code < 0xE0000000u + 7100; ++code) {
        std::optional<std::uint32_t> scanned;
        for (const auto& row : rows) {
            if (row.code == code) {
                scanned = row.value;
                break;
            }
        }
        ASSERT_EQ(table.lookup(code), scanned) << std::hex << code;
    }
}

TEST_F(CodeTable, fileRoundTripKeepsRowsAndChecksum) {
    const std::string path = (dir / "t.table").string();
    ASSERT_TRUE(FinalScratchCodeTable::save(path, someRows, error)) << error;
    ASSERT_TRUE(table.load(path, error)) << error;
    ASSERT_EQ(table.rowCount(), someRows.size());
    EXPECT_EQ(table.rows()[5].value, 276723u);
    const auto bytes = FinalScratchCodeTable::encode(someRows);
    EXPECT_EQ(bytes[0], 0xE4);  // little-endian words
    EXPECT_EQ(bytes[3], 0xE0);
    EXPECT_EQ(table.crc32(), ::crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
    EXPECT_FALSE(table.isReal());
}

TEST_F(CodeTable, unusableFilesAreRefusedWithTheirNameAndKeepTheOldRows) {
    ASSERT_TRUE(table.assign(someRows));
    auto bytes = FinalScratchCodeTable::encode(someRows);
    struct Case {
        std::string name;
        std::vector<unsigned char> bytes;
        std::string problem;
    };
    auto unsorted = someRows;
    std::swap(unsorted[0], unsorted[1]);
    const std::vector<Case> cases = {
        {"empty.table", {}, "empty"},
        {"ragged.table", {bytes.begin(), bytes.end() - 3}, "whole number"},
        {"unsorted.table", FinalScratchCodeTable::encode(unsorted), "not sorted"},
    };
    for (const Case& c : cases) {
        const std::string path = write(c.name, c.bytes);
        EXPECT_FALSE(table.load(path, error)) << c.name;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
    }
    EXPECT_FALSE(table.load((dir / "missing.table").string(), error));
    EXPECT_NE(error.find("missing.table"), std::string::npos);
    EXPECT_EQ(table.rowCount(), someRows.size());
    EXPECT_FALSE(table.assign(unsorted));
}

TEST_F(CodeTable, defaultPlaceIsTheCurrentDirectoryFirst) {
    const auto paths = FinalScratchCodeTable::defaultPaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], "finalscratch.table");
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    std::string used;
    const bool noTableYet = !table.loadDefault(used, error) || used != paths[0];
    ASSERT_TRUE(FinalScratchCodeTable::save("finalscratch.table", someRows, error));
    const bool loaded = table.loadDefault(used, error);
    fs::current_path(before);
    EXPECT_TRUE(noTableYet);
    EXPECT_TRUE(loaded) << error;
    EXPECT_EQ(used, "finalscratch.table");
}

}  // namespace
}  // namespace platora
