#pragma once

#include "StreamSettings.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace platora {

// A setting's value as given: text on the command line; in the file, whichever TOML type
// was written (an integer, a floating-point number or a switch keeps its type).
using SettingValue = std::variant<std::string, std::int64_t, double, bool>;

// The TOML types a setting takes in the file: a number is never taken from quotes, nor a
// switch.
enum SettingKind : unsigned { textKind = 1, wholeKind = 2, fractionKind = 4, switchKind = 8 };

// Every setting of stage mode, once: its name in the file (the option is --name, with "-"
// for "_"), what --help shows, the file's types, and how a value is read into the settings.
struct Setting {
    std::string_view name;
    std::string placeholder;  // the option's value in --help; empty for a switch
    std::string help;
    unsigned kinds;
    // False with the line why when the value is not one the setting takes. A deck is
    // appended, its port 0 until finishStreamSettings gives it the default.
    bool (*read)(const SettingValue& value, StreamSettings& settings, std::string& error);
    bool repeats = false;  // given again, adds rather than replaces (decks)
};
std::span<const Setting> settingsTable();
const Setting* findSetting(std::string_view name);

// Whether the file may give this type to the setting; false with the line to print.
bool kindAllowed(const Setting& setting, const SettingValue& value, std::string& error);

// A [[deck]] table's keys, read as the parts of PAIR:VINYL[:PORT[:PREFIX]].
struct DeckParts {
    std::optional<SettingValue> pair, vinyl, port, prefix;
};
bool applyDeck(const DeckParts& parts, StreamSettings& settings, std::string& error);
inline constexpr std::string_view deckKeys[] = {"pair", "vinyl", "port", "prefix"};
inline constexpr unsigned deckKeyKinds[] = {wholeKind, textKind | wholeKind, wholeKind, textKind};

}  // namespace platora
