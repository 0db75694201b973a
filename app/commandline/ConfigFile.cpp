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

bool readDeckTable(const toml::table& table, StreamSettings& settings, std::string& error) {
    DeckParts parts;
    std::optional<SettingValue>* slots[] = {&parts.pair, &parts.vinyl, &parts.port, &parts.prefix};
    for (const auto& [key, node] : table) {
        const std::string name = "deck: " + std::string(key.str());
        const auto found = std::find(std::begin(deckKeys), std::end(deckKeys), key.str());
        if (found == std::end(deckKeys)) {
            error = name + " is not a deck setting";
            return false;
        }
        const auto index = static_cast<std::size_t>(found - std::begin(deckKeys));
        const std::optional<SettingValue> value = valueOf(node);
        const Setting asSetting{key.str(), {}, {}, deckKeyKinds[index], nullptr};
        if (!value) {
            error = name + " must be text, a number, true or false";
            return false;
        }
        if (!kindAllowed(asSetting, *value, error)) {
            error = name + " " + error;
            return false;
        }
        *slots[index] = *value;
    }
    if (!parts.pair || !parts.vinyl) {
        error =
            "deck: needs pair = NUMBER and vinyl = a vinyl type (\"mixvibes\", \"serato-a\"...) or \"auto\"; port = "
            "NUMBER and prefix = \"/NAME\" are optional";
        return false;
    }
    if (!applyDeck(parts, settings, error)) {
        error = "deck: " + error;
        return false;
    }
    return true;
}

bool readText(const std::string& path, std::string& text, std::string& error) {
    std::error_code failed;
    const auto status = std::filesystem::status(path, failed);
    if (failed || !std::filesystem::is_regular_file(status)) {
        error = path + ": not a readable file";
        return false;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, failed);
    if (failed || size > largestConfigBytes) {
        error = path + ": larger than a settings file can be (1 MB)";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        error = path + ": cannot be read";
        return false;
    }
    return true;
}

}  // namespace

bool loadConfigFile(const std::string& path, StreamSettings& settings, std::string& error) {
    std::string text;
    if (!readText(path, text, error)) return false;
    toml::table table;
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& parseError) {
        error = at(path, parseError.source()) + std::string(parseError.description());
        return false;
    }
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const std::string where = at(path, node.source());
        if (name == "deck") {
            const toml::array* decks = node.as_array();
            if (decks == nullptr || !decks->is_array_of_tables()) {
                error = where + "deck: write each deck as a [[deck]] table";
                return false;
            }
            settings.decks.clear();
            for (const toml::node& deck : *decks) {
                if (!readDeckTable(*deck.as_table(), settings, error)) {
                    error = at(path, deck.source()) + error;
                    return false;
                }
            }
            continue;
        }
        const Setting* setting = findSetting(name);
        if (setting == nullptr) {
            error = where + name + ": is not a setting";
            return false;
        }
        const std::optional<SettingValue> value = valueOf(node);
        if (!value) {
            error = where + name + ": must be text, a number, true or false";
            return false;
        }
        if (!kindAllowed(*setting, *value, error) || !setting->read(*value, settings, error)) {
            error = where + name + ": " + error;
            return false;
        }
    }
    return true;
}

}  // namespace platora
