#include "CommandLine.h"
#include "SettingsTable.h"

#include <toml++/toml.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace platora {

namespace {

// A settings file is a few hundred bytes; this refuses a device or a wrong path early.
constexpr std::uintmax_t largestConfigBytes = 1 << 20;

std::string at(const std::string& path, const toml::source_region& where) {
    if (where.begin.line == 0) return path + ": ";
    return path + ":" + std::to_string(where.begin.line) + ": ";
}

// The value as written, typed; nothing for a type no setting takes (a date, a table...).
std::optional<SettingValue> valueOf(const toml::node& node) {
    if (const auto* text = node.as_string()) return SettingValue{text->get()};
    if (const auto* whole = node.as_integer()) return SettingValue{whole->get()};
    if (const auto* number = node.as_floating_point()) return SettingValue{number->get()};
    if (const auto* truth = node.as_boolean()) return SettingValue{truth->get()};
    return std::nullopt;
}

Problem readDeckTable(const toml::table& table, StreamSettings& settings) {
    DeckParts parts;
    std::optional<SettingValue>* slots[] = {&parts.pair, &parts.vinyl, &parts.port, &parts.prefix};
    for (const auto& [key, node] : table) {
        const auto found = std::find(std::begin(deckKeys), std::end(deckKeys), key.str());
        if (found == std::end(deckKeys)) return "deck: " + std::string(key.str()) + " is not a deck setting";
        const auto index = static_cast<std::size_t>(found - std::begin(deckKeys));
        const std::optional<SettingValue> value = valueOf(node);
        const Setting asSetting{key.str(), {}, {}, deckKeyKinds[index], nullptr};
        if (!value) return "deck: " + std::string(key.str()) + " must be text, a number, true or false";
        if (const Problem problem = wrongKind(asSetting, *value))
            return "deck: " + std::string(key.str()) + " " + *problem;
        *slots[index] = *value;
    }
    if (!parts.pair || !parts.vinyl) {
        return std::string(
            "deck: needs pair = NUMBER and vinyl = a vinyl type (\"mixvibes\", \"serato-a\"...) or \"auto\"; port = "
            "NUMBER and prefix = \"/NAME\" are optional");
    }
    if (const Problem problem = applyDeck(parts, settings)) return "deck: " + *problem;
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

std::optional<std::string> loadConfigFile(const std::string& path, StreamSettings& settings) {
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
        const Setting* setting = findSetting(name);
        if (setting == nullptr) return where + name + ": is not a setting";
        const std::optional<SettingValue> value = valueOf(node);
        if (!value) return where + name + ": must be text, a number, true or false";
        if (const Problem problem = wrongKind(*setting, *value)) return where + name + ": " + *problem;
        if (const Problem problem = setting->read(*value, settings)) return where + name + ": " + *problem;
    }
    return {};
}

}  // namespace platora
