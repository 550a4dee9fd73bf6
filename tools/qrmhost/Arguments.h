// qrmhost's command line, declared once with CLI11: global options (before or after the
// command), one command, then the command's options. Parsing never prints; it throws ExitError.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>

namespace qrmhost {

class Host;

struct GlobalOptions {
  std::filesystem::path modulePath;   // as given; empty for the default next to qrmhost
  int logLevel = 2;                   // 0 debug .. 3 error
  std::optional<std::string> camera;  // the connection text as given: it carries the password
  std::string model;
  std::string vendor = "Vantrel";
  std::string firmware;
};

// A chosen command with its options read: runs on the main thread, returns the exit status,
// throws ExitError on failure.
using CommandRun = std::function<int(Host& host)>;

// Each command declares itself on `app` (a subcommand with its options) and, when it is the one
// given, stores its run in `chosen`. One per command, in Command<Name>.cpp.
using CommandDeclaration = void (*)(CLI::App& app, CommandRun& chosen);

struct CommandLine {
  std::optional<std::string> help;  // --help was given: the text to print, nothing to run
  GlobalOptions global;
  CommandRun run;
};

CommandLine parseCommandLine(int argc, const char* const* argv);

// A decimal number from `low` to `high`; NaN and infinities are refused (CLI11's Range lets NaN by).
CLI::Validator finiteRange(double low, double high);

// "--seconds N" on `command`: a duration from 0 to 1e6 seconds, fractions allowed.
CLI::Option* addSecondsOption(CLI::App& command, double& seconds, const std::string& help);

}  // namespace qrmhost
