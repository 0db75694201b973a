#include "ScopeDrawing.h"

#include <algorithm>
#include <cstdint>

namespace platora {

namespace {

constexpr int dotsAcross = 2;  // per braille cell
constexpr int dotsDown = 4;
constexpr std::int32_t range = 65536;  // of a 16-bit sample
constexpr char32_t brailleBlank = 0x2800;

// The bit of dot (x, y) in a braille cell: the left column's upper three dots are bits 0-2,
// the right column's 3-5, and the bottom row's two dots 6 and 7.
std::uint8_t dotBit(int x, int y) {
    if (y == dotsDown - 1) return static_cast<std::uint8_t>(x == 0 ? 0x40 : 0x80);
    return static_cast<std::uint8_t>(1u << (y + 3 * x));
}

std::string utf8(char32_t c) {
    return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
}

}  // namespace

std::vector<std::string> drawScope(const std::array<ScopeTap::Point, ScopeTap::points>& points, int columns, int rows) {
    columns = std::max(columns, 1);
    rows = std::max(rows, 1);
    const int width = columns * dotsAcross;
    const int height = rows * dotsDown;
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(columns * rows), 0);
    for (const ScopeTap::Point& p : points) {
        // Right is up: full positive scale lands on the top row of dots.
        const int x = static_cast<int>((p.left + 32768) * static_cast<std::int64_t>(width) / range);
        const int y = static_cast<int>((32767 - p.right) * static_cast<std::int64_t>(height) / range);
        cells[static_cast<std::size_t>(y / dotsDown * columns + x / dotsAcross)] |=
            dotBit(x % dotsAcross, y % dotsDown);
    }
    std::vector<std::string> lines(static_cast<std::size_t>(rows));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const std::uint8_t bits = cells[static_cast<std::size_t>(r * columns + c)];
            lines[static_cast<std::size_t>(r)] += bits == 0 ? std::string(" ") : utf8(brailleBlank + bits);
        }
    return lines;
}

}  // namespace platora
