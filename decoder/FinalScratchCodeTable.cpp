#include "FinalScratchCodeTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace platora {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t bytesPerWord = 4;
constexpr std::size_t bytesPerRow = 2 * bytesPerWord;
constexpr std::size_t readChunkBytes = 1 << 16;

std::uint32_t wordAt(const unsigned char* in) {
    std::uint32_t word = 0;
    for (std::size_t i = 0; i < bytesPerWord; ++i) word |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return word;
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file, or false with `problem` set. Only regular files: a FIFO would block the
// open, a device like /dev/zero never ends. The size is checked before reading and again
// while reading, since a file may grow in between.
bool readWholeFile(const std::string& path, std::vector<unsigned char>& bytes, std::string& problem) {
    std::error_code status;
    const fs::file_status type = fs::status(path, status);
    if (status) {
        problem = "cannot open the code table (" + status.message() + ")";
        return false;
    }
    if (fs::is_directory(type)) {
        problem = "is a directory, not a code table";
        return false;
    }
    if (!fs::is_regular_file(type)) {
        problem = "is not a regular file, so it cannot be a code table";
        return false;
    }
    const std::string tooLarge = "is larger than " + std::to_string(FinalScratchCodeTable::largestFileBytes >> 20) +
                                 " MB, far more than any code table";
    std::error_code sizeError;
    if (fs::file_size(path, sizeError) > FinalScratchCodeTable::largestFileBytes && !sizeError) {
        problem = tooLarge;
        return false;
    }
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        problem = std::string("cannot open the code table (") + std::strerror(errno) + ")";
        return false;
    }
    bytes.clear();
    std::size_t read = 0;
    do {
        if (bytes.size() > FinalScratchCodeTable::largestFileBytes) {
            problem = tooLarge;
            return false;
        }
        bytes.resize(bytes.size() + readChunkBytes);
        read = std::fread(bytes.data() + bytes.size() - readChunkBytes, 1, readChunkBytes, file.get());
        bytes.resize(bytes.size() - readChunkBytes + read);
    } while (read == readChunkBytes);
    if (std::ferror(file.get())) {
        problem = std::string("cannot read the code table (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> FinalScratchCodeTable::defaultPaths() {
    return {defaultFileName, std::string(PLATORA_DATA_DIR) + "/" + defaultFileName};
}

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
    rows_ = std::move(rows);
    return true;
}

bool FinalScratchCodeTable::readRows(const std::string& path, std::vector<Row>& rows, std::string& error) {
    std::vector<unsigned char> bytes;
    std::string problem;
    if (!readWholeFile(path, bytes, problem)) {
        error = path + ": " + problem;
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
        rows[i].code = wordAt(&bytes[i * bytesPerRow]);
        rows[i].value = wordAt(&bytes[i * bytesPerRow + bytesPerWord]);
    }
    return true;
}

bool FinalScratchCodeTable::loadDefault(std::string& loadedPath, std::string& error) {
    for (const std::string& path : defaultPaths()) {
        if (!fileExists(path)) continue;
        loadedPath = path;
        return load(path, error);
    }
    error = "no FinalScratch code table found (looked for " + defaultPaths().front() + " and " + defaultPaths().back() +
            ")";
    return false;
}

bool FinalScratchCodeTable::assign(std::vector<Row> rows) {
    if (!sortedByCode(rows)) return false;
    rows_ = std::move(rows);
    return true;
}

std::optional<std::uint32_t> FinalScratchCodeTable::lookup(std::uint32_t code) const {
    // The first row not below the code: with sorted rows this is what a scan from row 0 finds first.
    const auto row =
        std::lower_bound(rows_.begin(), rows_.end(), code, [](const Row& r, std::uint32_t c) { return r.code < c; });
    if (row == rows_.end() || row->code != code) return std::nullopt;
    return row->value;
}

}  // namespace platora
