#include "ScopeDrawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace platora {
namespace {

using Points = std::array<ScopeTap::Point, ScopeTap::points>;
using Lines = std::vector<std::string>;

// The given points, the first repeated to fill the snapshot.
Points snapshot(const std::vector<ScopeTap::Point>& given) {
    Points points;
    points.fill(given.front());
    std::copy(given.begin(), given.end(), points.begin());
    return points;
}

Points ring(double level, double squareness) {
    std::vector<ScopeTap::Point> given;
    for (std::size_t i = 0; i < ScopeTap::points; ++i) {
        const double phase = 2 * std::numbers::pi * i / ScopeTap::points;
        const auto at = [&](double v) {
            return static_cast<std::int16_t>(std::clamp(level * squareness * v, -1.0, 1.0) * 32767);
        };
        given.push_back({at(std::cos(phase)), at(std::sin(phase))});
    }
    return snapshot(given);
}

Points line() {
    std::vector<ScopeTap::Point> given;
    for (int i = 0; i < 16; ++i) given.push_back({static_cast<std::int16_t>(-32768 + 4096 * i), 0});
    return snapshot(given);
}

struct Drawing {
    const char* name;
    Points points;
    int columns, rows;
    Lines expected;
};

TEST(ScopeDrawing, DrawsLeftAcrossAndRightUpInBrailleDots) {
    const std::vector<Drawing> drawings = {
        {"the top left corner is the first dot of the first cell", snapshot({{-32768, 32767}}), 2, 1, {"⠁ "}},
        {"the bottom right corner is the last dot of the last cell", snapshot({{32767, -32768}}), 2, 2, {"  ", " ⢀"}},
        {"a silent right channel is a line across the middle", line(), 4, 2, {"⣀⣀⣀⣀", "    "}},
        {"a clean record is a ring", ring(0.9, 1.0), 8, 4, {" ⡤⠖⠋⠙⠲⢤ ", "⡼⠁    ⠈⢧", "⢳⡀    ⢀⡞", " ⠓⠦⣄⣠⠴⠚ "}},
        {"a clipped one a square", ring(0.9, 2.0), 8, 4, {"⡏⠉⠉⠉⠉⠉⠉⢹", "⡇      ⢸", "⡇      ⢸", "⣇⣀⣀⣀⣀⣀⣀⣸"}},
    };
    for (const Drawing& d : drawings) EXPECT_EQ(drawScope(d.points, d.columns, d.rows), d.expected) << d.name;
}

}  // namespace
}  // namespace platora
