#include "StageCommandLine.h"

#include "CommandLineConventions.h"
#include "StrictNumbers.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

namespace platora {

namespace {

constexpr const char* programName = "platora";
constexpr long lowestPort = 1;
constexpr long highestPort = 65535;
constexpr long largestPair = 127;         // 256 channels, still within the stream's 16-bit channel count
constexpr long largestFixedGain = 32767;  // the preamp multiplies 16-bit samples
constexpr std::size_t longestHost = 253;  // the longest DNS name
constexpr std::size_t longestPrefix = 64;
// Characters OSC gives a meaning in an address pattern, and the blank.
constexpr std::string_view notInPrefix = " #*,?[]{}";

using Problem = std::optional<std::string>;
constexpr std::string_view automaticVinyl = "auto";

bool readWhole(std::string_view text, long lowest, long highest, long& value) {
    const std::optional<long> parsed = readNumber<long>(std::string(text));
    if (!parsed || *parsed < lowest || *parsed > highest) return false;
    value = *parsed;
    return true;
}

bool readPositive(std::string_view text, float& value) {
    const std::optional<float> parsed = readNumber<float>(std::string(text));
    if (!parsed || *parsed <= 0.0f) return false;
    value = *parsed;
    return true;
}

Problem readDevice(std::string_view text, StreamSettings& settings) {
    if (text.empty()) return "must name a device or give its number from --list-devices";
    settings.device = text;
    return {};
}

Problem readHost(std::string_view text, StreamSettings& settings) {
    if (text.empty() || text.size() > longestHost) return "must be a host name or address of 1 to 253 characters";
    settings.host = text;
    return {};
}

Problem readPreamp(std::string_view text, StreamSettings& settings) {
    long gain = 0;
    if (text == "off") {
        settings.preamp = PreampMode::off;
    } else if (text == "auto") {
        settings.preamp = PreampMode::automatic;
    } else if (readWhole(text, 1, largestFixedGain, gain)) {
        settings.preamp = PreampMode::fixed;
        settings.preampGain = static_cast<float>(gain);
    } else {
        return "must be auto, off or a whole gain from 1 to 32767";
    }
    return {};
}

Problem readCalibration(std::string_view text, StreamSettings& settings) {
    if (text == "saved") {
        settings.calibration = CalibrationSource::saved;
    } else if (text == "default") {
        settings.calibration = CalibrationSource::typeDefault;
    } else if (readPositive(text, settings.calibrationValue)) {
        settings.calibration = CalibrationSource::value;
    } else {
        return "must be saved, default or a positive number";
    }
    return {};
}

Problem readBuffer(std::string_view text, StreamSettings& settings) {
    long frames = 0;
    if (!readWhole(text, smallestBufferFrames, largestBufferFrames, frames)) {
        return "must be a whole number of frames from 32 to 4096";
    }
    settings.bufferFrames = static_cast<unsigned int>(frames);
    return {};
}

Problem readSend(std::string_view text, StreamSettings& settings) {
    if (text == "poll") {
        settings.send = SendMode::poll;
    } else if (text == "block") {
        settings.send = SendMode::block;
    } else {
        return "must be poll or block";
    }
    return {};
}

std::string decodingModes(std::string_view between) {
    return std::string(decodingModeName(DecodingMode::faithful))
        .append(between)
        .append(decodingModeName(DecodingMode::robust));
}

Problem readDecoding(std::string_view text, StreamSettings& settings) {
    const std::optional<DecodingMode> mode = parseDecodingMode(text);
    if (!mode) return "must be " + decodingModes(" or ");
    settings.decoding = *mode;
    return {};
}

bool validPrefix(std::string_view prefix) {
    return prefix.size() >= 2 && prefix.size() <= longestPrefix && prefix.front() == '/' && prefix.back() != '/' &&
           prefix.find_first_of(notInPrefix) == std::string_view::npos && prefix.find("//") == std::string_view::npos;
}

Problem readDeck(std::string_view text, StreamSettings& settings) {
    constexpr const char* form =
        "must be PAIR:VINYL[:PORT[:PREFIX]], for example 0:mixvibes, 1:finalscratch:9000, "
        "0:auto or 1:mixvibes:44444:/deck2";
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos) return form;
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.find(':');
    const std::string_view vinyl = rest.substr(0, second);
    DeckSettings deck;
    long number = 0;
    if (!readWhole(text.substr(0, first), 0, largestPair, number)) return "PAIR must be a whole number from 0 to 127";
    deck.pair = static_cast<int>(number);
    const std::optional<VinylType> type = vinyl == automaticVinyl ? FinalScratch : readVinylType(vinyl);
    if (!type) return "VINYL must be mixvibes, finalscratch, auto, 1 or 0";
    deck.vinyl = *type;
    deck.findVinyl = vinyl == automaticVinyl;
    deck.port = 0;
    if (second != std::string_view::npos) {
        const std::string_view after = rest.substr(second + 1);
        const std::size_t third = after.find(':');
        // An empty PORT before a prefix takes the default one.
        if (third != 0 && !readWhole(after.substr(0, third), lowestPort, highestPort, number)) {
            return "PORT must be a whole number from 1 to 65535";
        }
        if (third != 0) deck.port = static_cast<int>(number);
        if (third != std::string_view::npos) {
            deck.prefix = after.substr(third + 1);
            if (!validPrefix(deck.prefix))
                return "PREFIX must be an address part such as /deck2: a / first, no blank, none of #*,?[]{} and "
                       "at most 64 characters";
        }
    }
    settings.decks.push_back(deck);
    return {};
}

Problem readSwitch(std::string_view text, bool& value) {
    if (text != "true" && text != "false") return "must be true or false";
    value = text == "true";
    return {};
}

Problem readRiaa(std::string_view text, StreamSettings& settings) { return readSwitch(text, settings.riaa); }

Problem readInterpolate(std::string_view text, StreamSettings& settings) {
    return readSwitch(text, settings.interpolate);
}

Problem readScope(std::string_view text, StreamSettings& settings) { return readSwitch(text, settings.scope); }

Problem readSendAge(std::string_view text, StreamSettings& settings) { return readSwitch(text, settings.sendAge); }

Problem readBundle(std::string_view text, StreamSettings& settings) { return readSwitch(text, settings.bundle); }

Problem readQuiet(std::string_view text, StreamSettings& settings) {
    bool quiet = false;
    if (Problem problem = readSwitch(text, quiet)) return problem;
    settings.report = quiet ? StreamReport::quiet : StreamReport::live;
    return {};
}

const std::map<std::string_view, Problem (*)(std::string_view, StreamSettings&)> readers{
    {"device", readDevice},           {"deck", readDeck},     {"host", readHost},   {"preamp", readPreamp},
    {"calibration", readCalibration}, {"buffer", readBuffer}, {"send", readSend},   {"riaa", readRiaa},
    {"interpolate", readInterpolate}, {"quiet", readQuiet},   {"scope", readScope}, {"decoding", readDecoding},
    {"send_age", readSendAge},        {"bundle", readBundle},
};

// Options join words with "-", the file (and the setting) with "_": --send-age is send_age.
std::string settingName(std::string_view option) {
    std::string name(option);
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

StageCommand usageProblem(const std::string& message) {
    StageCommand command;
    command.request = StageRequest::done;
    command.exitStatus = usageError(programName, message);
    return command;
}

}  // namespace

Problem applyStageSetting(std::string_view name, std::string_view text, StreamSettings& settings) {
    if (const auto reader = readers.find(name); reader != readers.end()) return reader->second(text, settings);
    return "is not a setting";
}

Problem finishStreamSettings(StreamSettings& settings) {
    if (settings.device.empty()) return "no device given (--device, from --list-devices)";
    if (settings.decks.empty()) return "no deck given (--deck PAIR:VINYL[:PORT[:PREFIX]])";
    std::set<std::pair<int, std::string>> destinations;
    std::set<int> pairs;
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        DeckSettings& deck = settings.decks[i];
        if (deck.port == 0) deck.port = defaultOscPort + static_cast<int>(i);
        if (!pairs.insert(deck.pair).second)
            return "two decks read pair " + std::to_string(deck.pair) + "; give each deck its own PAIR";
        // Every deck sends to the same host, so a port and a prefix are a whole destination.
        if (!destinations.insert({deck.port, deck.prefix}).second) {
            return "two decks send to port " + std::to_string(deck.port) +
                   (deck.prefix.empty() ? std::string() : " with prefix " + deck.prefix) +
                   "; give each deck its own PORT or PREFIX";
        }
    }
    return {};
}

StageCommand readStageCommand(int argc, const char* const* argv) {
    StageCommand command;
    if (argc <= 1) return command;

    CLI::App app{
        "Streams timecode vinyl positions as OSC, one destination per deck. "
        "Without arguments, asks for every choice instead.",
        programName};
    addVersionFlag(app);
    bool listDevices = false;
    std::string configPath;
    app.add_flag("--list-devices", listDevices, "Print the input devices with their numbers and exit");
    const CLI::Option* config =
        app.add_option("--config", configPath, "Read these settings from a TOML file; the command line wins")
            ->type_name("FILE");

    struct ValueOption {
        const char* name;
        const char* type;
        std::string help;
        std::vector<std::string> texts;
    };
    const std::string decodingType = decodingModes("|");
    std::vector<ValueOption> values{
        {"device", "DEVICE", "Device number from --list-devices, or its name", {}},
        {"deck",
         "PAIR:VINYL[:PORT[:PREFIX]]",
         "A deck: channel pair (0 = channels 1/2), mixvibes|finalscratch (or 1|0) or auto (found from the signal), OSC "
         "port (default " +
             std::to_string(defaultOscPort) +
             ", then one more per deck), address prefix such as /deck2 (decks that share a port need one each); "
             "repeat for more decks",
         {}},
        {"host", "HOST", std::string("OSC destination of every deck (default ") + defaultOscHost + ")", {}},
        {"preamp", "auto|GAIN|off", "Software preamp: found by level, or a fixed gain (default off)", {}},
        {"calibration", "VALUE|saved|default", "Decoder calibration; saved reads the dialogue's settings file", {}},
        {"buffer", "FRAMES", "Audio buffer, 32 to 4096 frames (default 1024)", {}},
        {"send", "poll|block", "Send every 5 ms (default), or right after each decoded block", {}},
        {"decoding",
         decodingType.c_str(),
         "Decoding mode: robust (default) cleans the signal and holds back a jump until the next frame "
         "confirms it; faithful sets the position from every frame as it comes",
         {}},
    };
    for (ValueOption& value : values) {
        CLI::Option* option =
            app.add_option(std::string("--") + value.name, value.texts, value.help)->type_name(value.type);
        if (std::string_view(value.name) != "deck") option->expected(1);
    }
    struct Switch {
        const char* name;
        std::string help;
        bool on = false;
    };
    std::vector<Switch> flags{{"riaa", "RIAA correction"},
                              {"interpolate", "Advance the position by the measured speed up to the send"},
                              {"quiet", "Print errors only"},
                              {"scope", "Draw an X-Y scope of each deck's signal beside its live line (on a terminal)"},
                              {"send-age", std::string("Also send ") + ageAddress +
                                               " after the four: seconds since a frame last set the position, -1 "
                                               "before the first"},
                              {"bundle",
                               "Send each deck's messages of a block as one OSC bundle timed when the block was "
                               "captured"}};
    for (Switch& flag : flags) app.add_flag(std::string("--") + flag.name, flag.on, flag.help);

    if (const int status = parseCommandLine(app, argc, argv); status != goOn) {
        command.request = StageRequest::done;
        command.exitStatus = status;
        return command;
    }
    if (listDevices) {
        command.request = StageRequest::listDevices;
        return command;
    }

    StreamSettings& settings = command.settings;
    if (config->count() > 0) {
        if (const Problem problem = loadStageConfigFile(configPath, settings)) return usageProblem(*problem);
    }
    for (const ValueOption& value : values) {
        if (std::string_view(value.name) == "deck" && !value.texts.empty()) settings.decks.clear();
        for (const std::string& text : value.texts) {
            if (const Problem problem = applyStageSetting(value.name, text, settings)) {
                return usageProblem(std::string("--") + value.name + " " + text + ": " + *problem);
            }
        }
    }
    for (const Switch& flag : flags) {
        if (flag.on) applyStageSetting(settingName(flag.name), "true", settings);
    }
    if (const Problem problem = finishStreamSettings(settings)) return usageProblem(*problem);
    if (settings.scope && settings.report != StreamReport::live)
        return usageProblem("--scope draws beside the live status, which --quiet turns off");
    if (settings.scope && ::isatty(STDOUT_FILENO) != 1)
        return usageProblem("--scope draws on a terminal, and standard output is none");
    command.request = StageRequest::stream;
    return command;
}

}  // namespace platora
