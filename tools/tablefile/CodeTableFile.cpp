#include "CodeTableFile.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace platora {

namespace {

constexpr std::size_t bytesPerWord = 4;

void putWord(std::vector<unsigned char>& out, std::uint32_t word) {
    for (std::size_t i = 0; i < bytesPerWord; ++i) out.push_back(static_cast<unsigned char>(word >> (8 * i)));
}

}  // namespace

std::vector<unsigned char> encodeCodeTable(const CodeTableRows& rows) {
    std::vector<unsigned char> bytes;
    bytes.reserve(rows.size() * 2 * bytesPerWord);
    for (const FinalScratchCodeTable::Row& row : rows) {
        putWord(bytes, row.code);
        putWord(bytes, row.value);
    }
    return bytes;
}

bool saveCodeTable(const std::string& path, const CodeTableRows& rows, std::string& error) {
    const std::vector<unsigned char> bytes = encodeCodeTable(rows);
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

std::uint32_t codeTableChecksum(const CodeTableRows& rows) {
    const std::vector<unsigned char> bytes = encodeCodeTable(rows);
    uLong crc = ::crc32(0L, Z_NULL, 0);
    crc = ::crc32_z(crc, bytes.data(), bytes.size());
    return static_cast<std::uint32_t>(crc);
}

}  // namespace platora
