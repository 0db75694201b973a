#pragma once

#include "StreamSettings.h"

#include <optional>
#include <string>
#include <string_view>

namespace platora {

enum class ProgramRequest { dialogue, listDevices, stream, done };

struct CommandLine {
    ProgramRequest request = ProgramRequest::dialogue;
    StreamSettings settings;  // complete and checked when request is stream
    int exitStatus = 0;       // when request is done: after --help, --version or a usage error
};

// Reads the program's arguments and the configuration file they name (the command line
// wins over the file). No arguments ask for the dialogue. Usage and configuration errors
// have already been printed as one line when this returns ProgramRequest::done with status 2.
CommandLine readCommandLine(int argc, const char* const* argv);

// Reads one setting given as text, by its option name without the dashes and with "_" for
// "-" ("buffer", "send_age", ...) or "deck" for PAIR:VINYL[:PORT[:PREFIX]]; the switches
// ("riaa", "send_age", ...) take true or false. Returns what is wrong with the value, or
// nothing when it was taken.
// An unknown name is an error too. A deck is appended; its port stays 0 until
// finishStreamSettings gives it the default.
std::optional<std::string> applySetting(std::string_view name, std::string_view text, StreamSettings& settings);

// Gives every deck without a port defaultOscPort + its index and checks what needs the whole
// set: a device, at least one deck, no two decks sending to one port.
std::optional<std::string> finishStreamSettings(StreamSettings& settings);

// Reads a TOML file of the same settings into settings; a deck table replaces the decks.
// Returns "FILE:LINE: what is wrong" (or "FILE: ..." without a line) on failure.
std::optional<std::string> loadConfigFile(const std::string& path, StreamSettings& settings);

}  // namespace platora
