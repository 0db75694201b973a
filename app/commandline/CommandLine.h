#pragma once

#include "StreamSettings.h"

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

// Gives every deck without a port defaultOscPort + its index and checks what needs the whole
// set: a device, at least one deck, no two decks sending to one port.
bool finishStreamSettings(StreamSettings& settings, std::string& error);

// Reads a TOML file of the same settings into settings; a deck table replaces the decks.
// False with "FILE:LINE: what is wrong" (or "FILE: ..." without a line) in error.
bool loadConfigFile(const std::string& path, StreamSettings& settings, std::string& error);

}  // namespace platora
