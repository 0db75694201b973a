// The code table loader on arbitrary file contents: a file it takes must look up as a scan
// from row 0 does; one it refuses gets one line that starts with the file's name.
#include "FinalScratchCodeTable.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
constexpr std::size_t rowsCompared = 64;  // enough to meet duplicates, cheap enough to scan
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using platora::FinalScratchCodeTable;
    static const std::string path = "/tmp/platora-fuzz-table-" + std::to_string(::getpid());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    FinalScratchCodeTable table;
    std::string error;
    if (!table.load(path, error)) {
        if (error.rfind(path + ": ", 0) != 0 || error.find('\n') != std::string::npos) std::abort();
        return 0;
    }
    const auto& rows = table.rows();
    for (std::size_t i = 0; i < rows.size() && i < rowsCompared; ++i) {
        for (const std::uint32_t code : {rows[i].code, rows[i].code + 1}) {
            std::size_t first = 0;
            while (first < rows.size() && rows[first].code != code) ++first;
            const auto found = table.lookup(code);
            if (first == rows.size() ? found.has_value() : found != rows[first].value) std::abort();
        }
    }
    return 0;
}
