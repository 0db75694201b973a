#include "FinalScratchCodeTable.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#ifndef PLATORA_DATA_DIR
#define PLATORA_DATA_DIR "/usr/local/share/platora"
#endif

namespace platora {

namespace {

constexpr std::size_t bytesPerWord = 4;
constexpr std::size_t bytesPerRow = 2 * bytesPerWord;

void putWord(std::vector<unsigned char>& out, std::uint32_t word) {
    for (std::size_t i = 0; i < bytesPerWord; ++i) out.push_back(static_cast<unsigned char>(word >> (8 * i)));
}

std::uint32_t getWord(const unsigned char* in) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < bytesPerWord; ++i) word |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return word;
}

std::uint32_t checksum(const std::vector<unsigned char>& bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    crc = ::crc32_z(crc, bytes.data(), bytes.size());
    return static_cast<std::uint32_t>(crc);
}

bool fileExists(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

}  // namespace

FinalScratchCodeTable& FinalScratchCodeTable::shared() {
    static FinalScratchCodeTable table;
    return table;
}

std::vector<std::string> FinalScratchCodeTable::defaultPaths() {
    return {defaultFileName, std::string(PLATORA_DATA_DIR) + "/" + defaultFileName};
}

std::uint32_t FinalScratchCodeTable::checksumOf(const std::vector<Row>& rows) { return checksum(encode(rows)); }

bool FinalScratchCodeTable::sortedByCode(const std::vector<Row>& rows) {
    return std::is_sorted(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.code < b.code; });
}

bool FinalScratchCodeTable::load(const std::string& path, std::string& error) {
    std::vector<Row> rows;
    if (!readRows(path, rows, error)) return false;
    if (!sortedByCode(rows)) {
        error = path + ": the code table's rows are not sorted by code";
        return false;
    }
    crc_ = checksumOf(rows);
    rows_ = std::move(rows);
    return true;
}

bool FinalScratchCodeTable::readRows(const std::string& path, std::vector<Row>& rows, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the code table (" + std::strerror(errno) + ")";
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = path + ": cannot read the code table";
        return false;
    }
    if (bytes.empty()) {
        error = path + ": the code table is empty";
        return false;
    }
    if (bytes.size() % bytesPerRow != 0) {
        error = path + ": the code table's size (" + std::to_string(bytes.size()) +
                " bytes) is not a whole number of 8-byte rows";
        return false;
    }
    rows.resize(bytes.size() / bytesPerRow);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].code = getWord(&bytes[i * bytesPerRow]);
        rows[i].value = getWord(&bytes[i * bytesPerRow + bytesPerWord]);
    }
    return true;
}

bool FinalScratchCodeTable::loadDefault(std::string& loadedPath, std::string& error) {
    for (const std::string& path : defaultPaths()) {
        if (!fileExists(path)) continue;
        loadedPath = path;
        return load(path, error);
    }
    error = "no FinalScratch code table found (looked for " + defaultPaths().front() + " and " +
            defaultPaths().back() + ")";
    return false;
}

bool FinalScratchCodeTable::assign(std::vector<Row> rows) {
    if (!sortedByCode(rows)) return false;
    crc_ = checksumOf(rows);
    rows_ = std::move(rows);
    return true;
}

std::optional<std::uint32_t> FinalScratchCodeTable::lookup(std::uint32_t code) const {
    // The first row not below the code: with sorted rows this is what a scan from row 0 finds first.
    const auto row = std::lower_bound(rows_.begin(), rows_.end(), code,
                                      [](const Row& r, std::uint32_t c) { return r.code < c; });
    if (row == rows_.end() || row->code != code) return std::nullopt;
    return row->value;
}

std::vector<unsigned char> FinalScratchCodeTable::encode(const std::vector<Row>& rows) {
    std::vector<unsigned char> bytes;
    bytes.reserve(rows.size() * bytesPerRow);
    for (const Row& row : rows) {
        putWord(bytes, row.code);
        putWord(bytes, row.value);
    }
    return bytes;
}

bool FinalScratchCodeTable::save(const std::string& path, const std::vector<Row>& rows, std::string& error) {
    const std::vector<unsigned char> bytes = encode(rows);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = path + ": cannot create the code table (" + std::strerror(errno) + ")";
        return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = path + ": cannot write the code table";
        return false;
    }
    return true;
}

}  // namespace platora
