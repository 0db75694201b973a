#pragma once

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

// The conventions every Platora program shares: --help and --version print on standard
// output and exit 0; a usage error is one line on standard error and exit status 2.

namespace platora {

inline constexpr int usageErrorStatus = 2;
inline constexpr int goOn = -1;  // parseCommandLine's result when the program should run

// Prints "NAME: MESSAGE (see NAME --help)" as one line and returns usageErrorStatus.
inline int usageError(const std::string& program, std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    std::fprintf(stderr, "%s: %s (see %s --help)\n", program.c_str(), message.c_str(), program.c_str());
    return usageErrorStatus;
}

// Adds --version; call before adding the program's own options.
inline void addVersionFlag(CLI::App& app) { app.set_version_flag("--version", app.get_name() + " " PLATORA_VERSION); }

// On Windows CLI11 reads an argument starting with '/' as an option; in every Platora program
// it is a path (`platora-decode /recordings/side-a.wav`), options start with '-' everywhere.
inline void readSlashesAsPaths(CLI::App& app) {
    app.allow_windows_style_options(false);
    for (CLI::App* subcommand : app.get_subcommands([](CLI::App*) { return true; })) readSlashesAsPaths(*subcommand);
}

// Returns goOn, or the exit status after --help, --version or a usage error.
inline int parseCommandLine(CLI::App& app, int argc, const char* const* argv) {
    readSlashesAsPaths(app);
    try {
        app.parse(argc, argv);
        return goOn;
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        return usageError(app.get_name(), error.what());
    }
}

}  // namespace platora
