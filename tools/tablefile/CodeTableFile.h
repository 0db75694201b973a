#pragma once

#include "FinalScratchCodeTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platora {

// Writing FinalScratch code table files and telling them apart, for the tools that make and
// check them; the program only reads them (FinalScratchCodeTable).
using CodeTableRows = std::vector<FinalScratchCodeTable::Row>;

// The table a FinalScratch record was made with: its rows and their checksum.
inline constexpr std::size_t realRowCount = 135872;
inline constexpr std::uint32_t realCrc32 = 0x069CEC8B;

// The rows in the file layout: little-endian 32-bit words (code, value) per row.
std::vector<unsigned char> encodeCodeTable(const CodeTableRows& rows);
// False with error set to one line naming the file when it cannot be written.
bool saveCodeTable(const std::string& path, const CodeTableRows& rows, std::string& error);
// CRC-32 of the rows as the file holds them.
std::uint32_t codeTableChecksum(const CodeTableRows& rows);

}  // namespace platora
