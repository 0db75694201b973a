#include "CommandLine.h"

#include "CommandLineConventions.h"
#include "SettingsTable.h"

#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

namespace platora {

namespace {

constexpr const char* programName = "platora";

// Options join words with "-", the file (and the setting) with "_": --send-age is send_age.
std::string optionName(std::string_view setting) {
    std::string name(setting);
    std::replace(name.begin(), name.end(), '_', '-');
    return name;
}

CommandLine usageFailure(const std::string& message) {
    CommandLine command;
    command.request = ProgramRequest::done;
    command.exitStatus = usageError(programName, message);
    return command;
}

}  // namespace

bool finishStreamSettings(StreamSettings& settings, std::string& error) {
    if (settings.device.empty()) {
        error = "no device given (--device, from --list-devices)";
        return false;
    }
    if (settings.decks.empty()) {
        error = "no deck given (--deck PAIR:VINYL[:PORT[:PREFIX]])";
        return false;
    }
    std::set<std::pair<int, std::string>> destinations;
    std::set<int> pairs;
    for (std::size_t i = 0; i < settings.decks.size(); ++i) {
        DeckSettings& deck = settings.decks[i];
        if (deck.port == 0) deck.port = defaultOscPort + static_cast<int>(i);
        if (!pairs.insert(deck.pair).second) {
            error = "two decks read pair " + std::to_string(deck.pair) + "; give each deck its own PAIR";
            return false;
        }
        // Every deck sends to the same host, so a port and a prefix are a whole destination.
        if (!destinations.insert({deck.port, deck.prefix}).second) {
            error = "two decks send to port " + std::to_string(deck.port) +
                    (deck.prefix.empty() ? std::string() : " with prefix " + deck.prefix) +
                    "; give each deck its own PORT or PREFIX";
            return false;
        }
    }
    return true;
}

CommandLine readCommandLine(int argc, const char* const* argv) {
    CommandLine command;
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

    // What each option was given, in the table's order; a switch given is "true".
    std::vector<std::vector<std::string>> given(settingsTable().size());
    std::vector<CLI::Option*> options;
    for (std::size_t i = 0; i < settingsTable().size(); ++i) {
        const Setting& setting = settingsTable()[i];
        const std::string option = "--" + optionName(setting.name);
        if (setting.placeholder.empty()) {
            options.push_back(app.add_flag(option, setting.help));
            continue;
        }
        options.push_back(app.add_option(option, given[i], setting.help)->type_name(setting.placeholder));
        if (!setting.repeats) options.back()->expected(1);
    }

    if (const int status = parseCommandLine(app, argc, argv); status != goOn) {
        command.request = ProgramRequest::done;
        command.exitStatus = status;
        return command;
    }
    if (listDevices) {
        command.request = ProgramRequest::listDevices;
        return command;
    }

    StreamSettings& settings = command.settings;
    std::string error;
    if (config->count() > 0 && !loadConfigFile(configPath, settings, error)) return usageFailure(error);
    for (std::size_t i = 0; i < settingsTable().size(); ++i) {
        const Setting& setting = settingsTable()[i];
        if (setting.placeholder.empty()) {
            if (options[i]->count() > 0) setting.read(std::string("true"), settings, error);
            continue;
        }
        if (setting.repeats && !given[i].empty()) settings.decks.clear();  // the command line's decks replace the file's
        for (const std::string& text : given[i]) {
            if (!setting.read(text, settings, error))
                return usageFailure("--" + optionName(setting.name) + " " + text + ": " + error);
        }
    }
    if (!finishStreamSettings(settings, error)) return usageFailure(error);
    if (settings.scope && settings.report != StreamReport::live)
        return usageFailure("--scope draws beside the live status, which --quiet turns off");
    if (settings.scope && ::isatty(STDOUT_FILENO) != 1)
        return usageFailure("--scope draws on a terminal, and standard output is none");
    command.request = ProgramRequest::stream;
    return command;
}

}  // namespace platora
