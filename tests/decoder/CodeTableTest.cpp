#include "CodeTableFile.h"
#include "FinalScratchCodeTable.h"
#include "TempDirectory.h"

#include <gtest/gtest.h>


#include <sys/stat.h>

#include <algorithm>

namespace platora {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<FinalScratchCodeTable::Row>;
constexpr std::uintmax_t bytesPerRow = 8;

const Rows someRows = {{0xE00001E4, 24706}, {0xE00A89BF, 254853}, {0xE00A89BF, 276723}, {0xEFFF7D04, 26615705}};

TEST(CodeTable, lookupAgreesWithAScanFromRowZero) {
    Rows rows;
    for (std::uint32_t i = 0; i < 3000; ++i) rows.push_back({0xE0000000u + (i / 3) * 7, i});
    FinalScratchCodeTable table;
    ASSERT_TRUE(table.assign(rows));
    for (std::uint32_t code = 0xE0000000u - 2; code < 0xE0000000u + 7100; ++code) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.code == code; });
        ASSERT_EQ(table.lookup(code), row == rows.end() ? std::nullopt : std::optional(row->value)) << std::hex << code;
    }
}

TEST(CodeTable, fileRoundTripKeepsRowsInLittleEndianWords) {
    test::TempDirectory dir;
    FinalScratchCodeTable table;
    std::string error;
    ASSERT_TRUE(saveCodeTable(dir / "t.table", someRows, error)) << error;
    ASSERT_TRUE(table.load(dir / "t.table", error)) << error;
    ASSERT_EQ(table.rowCount(), someRows.size());
    EXPECT_EQ(table.rows()[2].value, 276723u);
    const auto bytes = encodeCodeTable(someRows);
    EXPECT_EQ(bytes[0], 0xE4);  // little-endian words
    EXPECT_EQ(bytes[3], 0xE0);
}

TEST(CodeTable, unusableFilesAreRefusedWithTheirNameAndKeepTheOldRows) {
    test::TempDirectory dir;
    FinalScratchCodeTable table;
    ASSERT_TRUE(table.assign(someRows));
    auto unsorted = someRows;
    std::swap(unsorted[0], unsorted[1]);
    const auto bytes = encodeCodeTable(someRows);
    const auto unsortedBytes = encodeCodeTable(unsorted);
    std::vector<std::pair<std::string, std::string>> cases = {
        {dir.write("empty.table", ""), "empty"},
        {dir.write("ragged.table", std::string(bytes.begin(), bytes.end() - 3)), "whole number"},
        {dir.write("unsorted.table", std::string(unsortedBytes.begin(), unsortedBytes.end())), "not sorted"},
        {dir / "missing.table", "No such file"},
        {dir.path.string(), "directory"},
        {dir.write("huge.table", ""), "larger than 64 MB"},
    };
#ifndef _WIN32
    cases.insert(cases.end(), {
                                  {"/dev/zero", "not a regular file"},         // never ends
                                  {"/proc/self/mem", "cannot read"},           // its first page is not mapped
                                  {dir / "fifo.table", "not a regular file"},  // the open alone would block
                              });
    ASSERT_EQ(::mkfifo((dir / "fifo.table").c_str(), 0600), 0);
#endif
    fs::resize_file(dir / "huge.table", FinalScratchCodeTable::largestFileBytes + bytesPerRow);
    for (const auto& [path, problem] : cases) {
        std::string error;
        EXPECT_FALSE(table.load(path, error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
        EXPECT_NE(error.find(problem), std::string::npos) << error;
    }
    EXPECT_EQ(table.rowCount(), someRows.size());
    EXPECT_FALSE(table.assign(unsorted));
}

TEST(CodeTable, defaultPlaceIsTheCurrentDirectoryFirst) {
    test::TempDirectory dir;
    FinalScratchCodeTable table;
    const auto paths = FinalScratchCodeTable::defaultPaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[0], "finalscratch.table");
    const fs::path before = fs::current_path();
    fs::current_path(dir.path);
    std::string used, error;
    const bool noTableYet = !table.loadDefault(used, error) || used != paths[0];
    const bool loaded = saveCodeTable(paths[0], someRows, error) && table.loadDefault(used, error);
    fs::current_path(before);
    EXPECT_TRUE(noTableYet);
    EXPECT_TRUE(loaded) << error;
    EXPECT_EQ(used, paths[0]);
}

}  // namespace
}  // namespace platora
