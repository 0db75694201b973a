#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platora {

// Maps a FinalScratch frame code to the position (in samples at 44100 Hz) where it lies.
// The rows come from a data file: little-endian 32-bit words (code, value) per row,
// sorted by code. Read-only once loaded; safe to share between decoders.
class FinalScratchCodeTable {
public:
    struct Row {
        std::uint32_t code;
        std::uint32_t value;
    };

    static constexpr const char* defaultFileName = "finalscratch.table";
    // The real table is about 1 MB; a larger file is refused before it is read.
    static constexpr std::uintmax_t largestFileBytes = std::uintmax_t{64} << 20;

    // Where the table is looked for, in order: the current directory, then the data directory.
    static std::vector<std::string> defaultPaths();

    // Replaces the rows with those of the file. On failure keeps the old rows and sets
    // `error` to one line naming the file and the problem. Never throws for a bad file.
    bool load(const std::string& path, std::string& error);

    // Reads a file's rows without judging their order: false, with `error` set as by load,
    // for a path that is missing, unreadable, not a regular file (a directory, a FIFO, a
    // device), larger than largestFileBytes, empty or not a whole number of rows, or whose
    // read fails.
    static bool readRows(const std::string& path, std::vector<Row>& rows, std::string& error);
    static bool sortedByCode(const std::vector<Row>& rows);

    // Loads the first file of defaultPaths() that exists. False with `error` set when
    // none exists or the one found is unusable; `loadedPath` names the file used.
    bool loadDefault(std::string& loadedPath, std::string& error);

    // Rows must be sorted by code; returns false (and keeps the old rows) if not.
    bool assign(std::vector<Row> rows);

    // The value of the first row carrying `code`, as a scan from row 0 would find it.
    std::optional<std::uint32_t> lookup(std::uint32_t code) const;

    bool empty() const { return rows_.empty(); }
    std::size_t rowCount() const { return rows_.size(); }
    const std::vector<Row>& rows() const { return rows_; }

private:
    std::vector<Row> rows_;
};

}  // namespace platora
