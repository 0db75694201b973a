#include "SettingsTable.h"

#include "StrictNumbers.h"
#include "VinylOption.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace platora {

namespace {

constexpr long largestPair = 127;         // 256 channels, still within the stream's 16-bit channel count
constexpr long largestFixedGain = 32767;  // the preamp multiplies 16-bit samples
constexpr std::size_t longestHost = 253;  // the longest DNS name
constexpr std::size_t longestPrefix = 64;
// Characters OSC gives a meaning in an address pattern, and the blank.
constexpr std::string_view notInPrefix = " #*,?[]{}";
constexpr std::string_view automaticVinyl = "auto";

const std::string* textOf(const SettingValue& value) { return std::get_if<std::string>(&value); }

// A whole number given as one, or spelled in decimal in text.
std::optional<long> wholeOf(const SettingValue& value, long lowest, long highest) {
    std::optional<long> whole;
    if (const std::string* text = textOf(value)) whole = readNumber<long>(*text);
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value))
        if (*number >= lowest && *number <= highest) whole = static_cast<long>(*number);
    if (!whole || *whole < lowest || *whole > highest) return std::nullopt;
    return whole;
}

std::optional<float> positiveOf(const SettingValue& value) {
    std::optional<float> number;
    if (const std::string* text = textOf(value)) number = readNumber<float>(*text);
    if (const std::int64_t* whole = std::get_if<std::int64_t>(&value)) number = static_cast<float>(*whole);
    if (const double* fraction = std::get_if<double>(&value)) number = static_cast<float>(*fraction);
    if (!number || !std::isfinite(*number) || *number <= 0.0f) return std::nullopt;
    return number;
}

// A word of the setting's own ("auto", "saved"...), given as text only.
bool is(const SettingValue& value, std::string_view word) {
    const std::string* text = textOf(value);
    return text != nullptr && *text == word;
}

bool readDevice(const SettingValue& value, StreamSettings& settings, std::string& error) {
    if (const std::int64_t* number = std::get_if<std::int64_t>(&value)) {
        settings.device = std::to_string(*number);
        return true;
    }
    const std::string* text = textOf(value);
    if (text == nullptr || text->empty()) {
        error = "must name a device or give its number from --list-devices";
        return false;
    }
    settings.device = *text;
    return true;
}

bool readHost(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::string* text = textOf(value);
    if (text == nullptr || text->empty() || text->size() > longestHost) {
        error = "must be a host name or address of 1 to 253 characters";
        return false;
    }
    settings.host = *text;
    return true;
}

bool readPreamp(const SettingValue& value, StreamSettings& settings, std::string& error) {
    if (is(value, "off")) {
        settings.preamp = PreampMode::off;
    } else if (is(value, "auto")) {
        settings.preamp = PreampMode::automatic;
    } else if (const std::optional<long> gain = wholeOf(value, 1, largestFixedGain)) {
        settings.preamp = PreampMode::fixed;
        settings.preampGain = static_cast<float>(*gain);
    } else {
        error = "must be auto, off or a whole gain from 1 to 32767";
        return false;
    }
    return true;
}

bool readCalibration(const SettingValue& value, StreamSettings& settings, std::string& error) {
    if (is(value, "saved")) {
        settings.calibration = CalibrationSource::saved;
    } else if (is(value, "default")) {
        settings.calibration = CalibrationSource::typeDefault;
    } else if (const std::optional<float> number = positiveOf(value)) {
        settings.calibration = CalibrationSource::value;
        settings.calibrationValue = *number;
    } else {
        error = "must be saved, default or a positive number";
        return false;
    }
    return true;
}

bool readBuffer(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::optional<long> frames = wholeOf(value, smallestBufferFrames, largestBufferFrames);
    if (!frames) {
        error = "must be a whole number of frames from 32 to 4096";
        return false;
    }
    settings.bufferFrames = static_cast<unsigned int>(*frames);
    return true;
}

bool readSend(const SettingValue& value, StreamSettings& settings, std::string& error) {
    if (is(value, "poll")) {
        settings.send = SendMode::poll;
    } else if (is(value, "block")) {
        settings.send = SendMode::block;
    } else {
        error = "must be poll or block";
        return false;
    }
    return true;
}

std::string decodingModes(std::string_view between) {
    return std::string(decodingModeName(DecodingMode::faithful))
        .append(between)
        .append(decodingModeName(DecodingMode::robust));
}

bool readDecoding(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::string* text = textOf(value);
    const std::optional<DecodingMode> mode = text ? parseDecodingMode(*text) : std::nullopt;
    if (!mode) {
        error = "must be " + decodingModes(" or ");
        return false;
    }
    settings.decoding = *mode;
    return true;
}

std::optional<bool> switchOf(const SettingValue& value) {
    if (const bool* on = std::get_if<bool>(&value)) return *on;
    if (is(value, "true")) return true;
    if (is(value, "false")) return false;
    return std::nullopt;
}

template <bool StreamSettings::*field>
bool readSwitch(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::optional<bool> on = switchOf(value);
    if (!on) {
        error = "must be true or false";
        return false;
    }
    settings.*field = *on;
    return true;
}

bool readQuiet(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::optional<bool> quiet = switchOf(value);
    if (!quiet) {
        error = "must be true or false";
        return false;
    }
    settings.report = *quiet ? StreamReport::quiet : StreamReport::live;
    return true;
}

bool validPrefix(std::string_view prefix) {
    return prefix.size() >= 2 && prefix.size() <= longestPrefix && prefix.front() == '/' && prefix.back() != '/' &&
           prefix.find_first_of(notInPrefix) == std::string_view::npos && prefix.find("//") == std::string_view::npos;
}

constexpr const char* deckForm =
    "must be PAIR:VINYL[:PORT[:PREFIX]], for example 0:mixvibes, 1:finalscratch:9000, "
    "0:auto or 1:mixvibes:44444:/deck2";

// The command line's PAIR:VINYL[:PORT[:PREFIX]]; an empty PORT before a prefix is the default.
bool readDeck(const SettingValue& value, StreamSettings& settings, std::string& error) {
    const std::string* text = textOf(value);
    const std::string_view whole = text ? std::string_view(*text) : std::string_view();
    const std::size_t first = whole.find(':');
    if (first == std::string_view::npos) {
        error = deckForm;
        return false;
    }
    DeckParts parts;
    parts.pair = std::string(whole.substr(0, first));
    const std::string_view rest = whole.substr(first + 1);
    const std::size_t second = rest.find(':');
    parts.vinyl = std::string(rest.substr(0, second));
    if (second != std::string_view::npos) {
        const std::string_view after = rest.substr(second + 1);
        const std::size_t third = after.find(':');
        if (third != 0) parts.port = std::string(after.substr(0, third));
        if (third != std::string_view::npos) parts.prefix = std::string(after.substr(third + 1));
    }
    return applyDeck(parts, settings, error);
}

std::vector<Setting> makeTable() {
    return {
        {"device", "DEVICE", "Device number from --list-devices, or its name", textKind | wholeKind, readDevice},
        {"deck", "PAIR:VINYL[:PORT[:PREFIX]]",
         "A deck: channel pair (0 = channels 1/2), a vinyl type (" + vinylTypeValues() +
             ") or auto (found from the signal), OSC "
             "port (default " +
             std::to_string(defaultOscPort) +
             ", then one more per deck), address prefix such as /deck2 (decks that share a port need one each); "
             "repeat for more decks",
         0, readDeck, true},
        {"host", "HOST", std::string("OSC destination of every deck (default ") + defaultOscHost + ")", textKind,
         readHost},
        {"preamp", "auto|GAIN|off", "Software preamp: found by level, or a fixed gain (default off)",
         textKind | wholeKind, readPreamp},
        {"calibration", "VALUE|saved|default", "Decoder calibration; saved reads the dialogue's settings file",
         textKind | wholeKind | fractionKind, readCalibration},
        {"buffer", "FRAMES", "Audio buffer, 32 to 4096 frames (default 1024)", wholeKind, readBuffer},
        {"send", "poll|block", "Send every 5 ms (default), or right after each decoded block", textKind, readSend},
        {"decoding", decodingModes("|"),
         "Decoding mode: robust (default) cleans the signal and holds back a jump until the next frame "
         "confirms it; faithful sets the position from every frame as it comes",
         textKind, readDecoding},
        {"riaa", "", "RIAA correction", switchKind, readSwitch<&StreamSettings::riaa>},
        {"interpolate", "", "Advance the position by the measured speed up to the send", switchKind,
         readSwitch<&StreamSettings::interpolate>},
        {"quiet", "", "Print errors only", switchKind, readQuiet},
        {"scope", "", "Draw an X-Y scope of each deck's signal beside its live line (on a terminal)", switchKind,
         readSwitch<&StreamSettings::scope>},
        {"send_age", "",
         std::string("Also send ") + ageAddress +
             " after the four: seconds since a frame last set the position, -1 before the first",
         switchKind, readSwitch<&StreamSettings::sendAge>},
        {"bundle", "", "Send each deck's messages of a block as one OSC bundle timed when the block was captured",
         switchKind, readSwitch<&StreamSettings::bundle>},
    };
}

}  // namespace

std::span<const Setting> settingsTable() {
    static const std::vector<Setting> table = makeTable();
    return table;
}

const Setting* findSetting(std::string_view name) {
    const auto table = settingsTable();
    const auto found = std::find_if(table.begin(), table.end(), [&](const Setting& s) { return s.name == name; });
    return found == table.end() ? nullptr : &*found;
}

bool kindAllowed(const Setting& setting, const SettingValue& value, std::string& error) {
    const unsigned allowed = setting.kinds;
    const std::string* text = textOf(value);
    const bool fits = (text && (allowed & textKind)) || (std::holds_alternative<std::int64_t>(value) && (allowed & wholeKind)) ||
                      (std::holds_alternative<double>(value) && (allowed & fractionKind)) ||
                      (std::holds_alternative<bool>(value) && (allowed & switchKind));
    if (!fits) {
        if (allowed == switchKind)
            error = "must be true or false";
        else if (allowed == textKind)
            error = "must be text in quotes";
        else if (!(allowed & textKind))
            error = "must be a number without quotes";
        else
            error = "must be a number without quotes or one of its words in quotes";
        return false;
    }
    // Where a number is taken, one in quotes is a mistake like any other type.
    if (text && (allowed & (wholeKind | fractionKind)) && setting.name != "device" && readNumber<double>(*text)) {
        error = "must be a number without quotes";
        return false;
    }
    return true;
}

bool applyDeck(const DeckParts& parts, StreamSettings& settings, std::string& error) {
    DeckSettings deck;
    if (!parts.pair || !parts.vinyl) {
        error = deckForm;
        return false;
    }
    const std::optional<long> pair = wholeOf(*parts.pair, 0, largestPair);
    if (!pair) {
        error = "PAIR must be a whole number from 0 to 127";
        return false;
    }
    deck.pair = static_cast<int>(*pair);
    const bool automatic = is(*parts.vinyl, automaticVinyl);
    std::optional<VinylType> type;
    if (const std::string* text = textOf(*parts.vinyl)) type = automatic ? FinalScratch : readVinylType(*text);
    if (const std::int64_t* number = std::get_if<std::int64_t>(&*parts.vinyl))
        type = readVinylType(std::to_string(*number));
    if (!type) {
        error = "VINYL must be auto or one of " + vinylTypeValues();
        return false;
    }
    deck.vinyl = *type;
    deck.findVinyl = automatic;
    deck.port = 0;
    if (parts.port) {
        const std::optional<long> port = wholeOf(*parts.port, lowestPort, highestPort);
        if (!port) {
            error = "PORT must be a whole number from 1 to 65535";
            return false;
        }
        deck.port = static_cast<int>(*port);
    }
    if (parts.prefix) {
        const std::string* prefix = textOf(*parts.prefix);
        if (prefix == nullptr || !validPrefix(*prefix)) {
            error =
                "PREFIX must be an address part such as /deck2: a / first, no blank, none of #*,?[]{} and "
                "at most 64 characters";
            return false;
        }
        deck.prefix = *prefix;
    }
    settings.decks.push_back(deck);
    return true;
}

}  // namespace platora
