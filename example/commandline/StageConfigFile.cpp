#include "StageCommandLine.h"

#include "StrictNumbers.h"

#include <toml++/toml.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace platora {

namespace {

// A settings file is a few hundred bytes; this refuses a device or a wrong path early.
constexpr std::uintmax_t largestConfigBytes = 1 << 20;

using Problem = std::optional<std::string>;

std::string at(const std::string& path, const toml::source_region& where) {
    if (where.begin.line == 0) return path + ": ";
    return path + ":" + std::to_string(where.begin.line) + ": ";
}

// The TOML types each setting takes: a number is never taken from a string, as a switch is
// never taken from one.
enum Kind : unsigned { text = 1, whole = 2, fraction = 4, truth = 8 };
const std::map<std::string_view, unsigned> kinds{
    {"device", text | whole}, {"host", text},     {"preamp", text | whole}, {"calibration", text | whole | fraction},
    {"buffer", whole},        {"send", text},     {"riaa", truth},          {"interpolate", truth},
    {"quiet", truth},         {"pair", whole},    {"vinyl", text | whole},  {"port", whole},
    {"prefix", text},         {"decoding", text}, {"send_age", truth},
    {"bundle", truth},
};

Problem wrongKind(std::string_view name, const toml::node& node) {
    const auto kind = kinds.find(name);
    if (kind == kinds.end()) return {};
    const unsigned allowed = kind->second;
    const bool fits = (node.is_string() && (allowed & text)) || (node.is_integer() && (allowed & whole)) ||
                      (node.is_floating_point() && (allowed & fraction)) || (node.is_boolean() && (allowed & truth));
    if (!fits) {
        if (allowed == truth) return "must be true or false";
        if (allowed == text) return "must be text in quotes";
        if (!(allowed & text)) return "must be a number without quotes";
        return "must be a number without quotes or one of its words in quotes";
    }
    // Where a number is taken, one in quotes is a mistake like any other type.
    if (node.is_string() && (allowed & (whole | fraction)) && name != "device" &&
        readNumber<double>(node.as_string()->get()))
        return "must be a number without quotes";
    return {};
}

// The text the command line would give for the same value, so both are read alike.
std::optional<std::string> textOf(const toml::node& node) {
    if (const auto* text = node.as_string()) return text->get();
    if (const auto* whole = node.as_integer()) return std::to_string(whole->get());
    if (const auto* truth = node.as_boolean()) return truth->get() ? "true" : "false";
    if (const auto* number = node.as_floating_point()) {
        char digits[32];
        const auto result = std::to_chars(digits, digits + sizeof digits, number->get());
        return std::string(digits, result.ptr);
    }
    return {};
}

Problem readDeckTable(const toml::table& table, StreamSettings& settings) {
    const toml::node* pair = table.get("pair");
    const toml::node* vinyl = table.get("vinyl");
    const toml::node* port = table.get("port");
    const toml::node* prefix = table.get("prefix");
    for (const auto& [key, value] : table) {
        if (key != "pair" && key != "vinyl" && key != "port" && key != "prefix")
            return "deck: " + std::string(key.str()) + " is not a deck setting";
        if (const Problem problem = wrongKind(key.str(), value))
            return "deck: " + std::string(key.str()) + " " + *problem;
    }
    if (pair == nullptr || vinyl == nullptr) {
        return std::string(
            "deck: needs pair = NUMBER and vinyl = \"mixvibes\", \"finalscratch\" or \"auto\"; port = "
            "NUMBER and prefix = \"/NAME\" are optional");
    }
    // Appended piece by piece: GCC 12 at -O2 warns (-Wrestrict) about ":" + a temporary string.
    std::string text = *textOf(*pair);
    text += ':';
    text += *textOf(*vinyl);
    if (port != nullptr || prefix != nullptr) text += ':';
    if (port != nullptr) text += *textOf(*port);  // none before a prefix: the default port
    if (prefix != nullptr) {
        text += ':';
        text += *textOf(*prefix);
    }
    if (const Problem problem = applyStageSetting("deck", text, settings)) return "deck: " + *problem;
    return {};
}

Problem readText(const std::string& path, std::string& text) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) return path + ": not a readable file";
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > largestConfigBytes) return path + ": larger than a settings file can be (1 MB)";
    std::ifstream file(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) return path + ": cannot be read";
    return {};
}

}  // namespace

std::optional<std::string> loadStageConfigFile(const std::string& path, StreamSettings& settings) {
    std::string text;
    if (const Problem problem = readText(path, text)) return problem;
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& error) {
        return at(path, error.source()) + std::string(error.description());
    }
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const std::string where = at(path, node.source());
        if (name == "deck") {
            const toml::array* decks = node.as_array();
            if (decks == nullptr || !decks->is_array_of_tables())
                return where + "deck: write each deck as a [[deck]] table";
            settings.decks.clear();
            for (const toml::node& deck : *decks) {
                if (const Problem problem = readDeckTable(*deck.as_table(), settings))
                    return at(path, deck.source()) + *problem;
            }
            continue;
        }
        if (const Problem problem = wrongKind(name, node)) return where + name + ": " + *problem;
        const std::optional<std::string> value = textOf(node);
        if (!value) return where + name + ": must be text, a number, true or false";
        if (const Problem problem = applyStageSetting(name, *value, settings)) return where + name + ": " + *problem;
    }
    return {};
}

}  // namespace platora
