#include "TableVerify.h"

#include "CodeTableFile.h"

#include "FinalScratchCodeTable.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <vector>

namespace platora {

namespace {

using Row = platora::FinalScratchCodeTable::Row;

constexpr std::uint32_t lowestCode = 0xE0000000;  // every code carries the sync bits 1110
constexpr std::uint32_t highestCode = 0xEFFFFFFF;
constexpr int rowsPerCodeAtMost = 2;
constexpr int brokenLinesAtMost = 10;

struct Findings {
    std::vector<std::string> broken;
    std::size_t duplicatedCodes = 0;
};

void note(Findings& findings, const std::string& line) {
    if (findings.broken.size() < brokenLinesAtMost) findings.broken.push_back(line);
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
            note(findings, "row " + std::to_string(i) + ": code " + hex(rows[i].code) + " outside " + hex(lowestCode) +
                               " to " + hex(highestCode));
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

}  // namespace

int runVerify(const VerifyCommand& command, std::ostream& out, std::ostream& err) {
    const std::string& path = command.file;
    std::vector<Row> rows;
    std::string error;
    if (!FinalScratchCodeTable::readRows(path, rows, error)) {
        err << "platora-table: " << error << '\n';
        return 1;
    }
    const auto [lowest, highest] =
        std::minmax_element(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.value < b.value; });
    const std::uint32_t crc = codeTableChecksum(rows);
    const bool real = rows.size() == realRowCount && crc == realCrc32;
    const Findings findings = inspect(rows);
    const bool usable = FinalScratchCodeTable::sortedByCode(rows);

    out << "file: " << path << '\n'
        << "rows: " << rows.size() << '\n'
        << "values: " << lowest->value << " to " << highest->value << '\n'
        << "duplicated codes: " << findings.duplicatedCodes << '\n'
        << "crc32: " << hex(crc) << '\n'
        << "real table: " << (real ? "yes" : "no") << '\n';
    for (const std::string& line : findings.broken) out << "broken: " << line << '\n';
    out << "usable: " << (usable ? "yes" : "no (the decoder needs rows sorted by code)") << '\n';
    return usable ? 0 : 1;
}

}  // namespace platora
