// platora-table verify FILE: reports what a FinalScratch code table file holds and
// whether the decoder can use it.
#include "FinalScratchCodeTable.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Row = platora::FinalScratchCodeTable::Row;

constexpr std::uint32_t lowestCode = 0xE0000000;  // every code carries the sync bits 1110
constexpr std::uint32_t highestCode = 0xEFFFFFFF;
constexpr int rowsPerCodeAtMost = 2;
constexpr int reportedProblemsAtMost = 10;

struct Findings {
    std::vector<std::string> broken;
    std::size_t duplicatedCodes = 0;
};

void note(Findings& findings, const std::string& line) {
    if (findings.broken.size() < reportedProblemsAtMost) findings.broken.push_back(line);
}

std::string hex(std::uint32_t word) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

Findings inspect(const std::vector<Row>& rows) {
    Findings findings;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].code < rows[i - 1].code) {
            note(findings, "rows not sorted by code: row " + std::to_string(i) + " (" + hex(rows[i].code) +
                               ") comes after " + hex(rows[i - 1].code));
            break;
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].code < lowestCode || rows[i].code > highestCode) {
            note(findings, "row " + std::to_string(i) + ": code " + hex(rows[i].code) + " outside " +
                               hex(lowestCode) + " to " + hex(highestCode));
        }
    }
    // Equal codes stand next to each other only in a sorted table; count them on a sorted copy.
    std::vector<std::uint32_t> codes(rows.size());
    std::transform(rows.begin(), rows.end(), codes.begin(), [](const Row& r) { return r.code; });
    std::sort(codes.begin(), codes.end());
    for (std::size_t i = 0; i < codes.size();) {
        std::size_t j = i;
        while (j < codes.size() && codes[j] == codes[i]) ++j;
        if (j - i > 1) ++findings.duplicatedCodes;
        if (j - i > rowsPerCodeAtMost) {
            note(findings, "code " + hex(codes[i]) + " in " + std::to_string(j - i) + " rows");
        }
        i = j;
    }
    return findings;
}

int verify(const std::string& path) {
    std::vector<Row> rows;
    std::string error;
    if (!platora::FinalScratchCodeTable::readRows(path, rows, error)) {
        std::fprintf(stderr, "platora-table: %s\n", error.c_str());
        return 1;
    }
    const auto [lowest, highest] = std::minmax_element(rows.begin(), rows.end(),
                                                       [](const Row& a, const Row& b) { return a.value < b.value; });
    const std::uint32_t crc = platora::FinalScratchCodeTable::checksumOf(rows);
    const bool real = rows.size() == platora::FinalScratchCodeTable::realRowCount &&
                      crc == platora::FinalScratchCodeTable::realCrc32;
    const Findings findings = inspect(rows);
    const bool usable = platora::FinalScratchCodeTable::sortedByCode(rows);

    std::printf("file: %s\n", path.c_str());
    std::printf("rows: %zu\n", rows.size());
    std::printf("values: %u to %u\n", lowest->value, highest->value);
    std::printf("duplicated codes: %zu\n", findings.duplicatedCodes);
    std::printf("crc32: %s\n", hex(crc).c_str());
    std::printf("real table: %s\n", real ? "yes" : "no");
    for (const std::string& line : findings.broken) std::printf("broken: %s\n", line.c_str());
    std::printf("usable: %s\n", usable ? "yes" : "no (the decoder needs rows sorted by code)");
    return usable ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "verify") {
        std::fprintf(stderr, "usage: platora-table verify FILE\n");
        return 2;
    }
    return verify(argv[2]);
}
