// qrmhost's command line: global options anywhere, one command, then the command's options.
// Options take "--name VALUE" or "--name=VALUE". Parsing never prints; it throws ExitError.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

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

// One option: `valueName` is null for a flag.
struct OptionSpec {
  const char* name;  // without the leading "--"
  const char* valueName;
  const char* help;
  bool repeatable = false;
};

// The options given to a command, by name (without "--"); a flag has one empty value.
class CommandOptions {
 public:
  void add(const std::string& name, const std::string& value) { values_[name].push_back(value); }
  bool has(const std::string& name) const { return values_.count(name) != 0; }
  // The last value given, or null.
  const std::string* value(const std::string& name) const;
  std::vector<std::string> all(const std::string& name) const;

  // Typed reads; each throws a usage error naming the option when the text does not fit.
  double seconds(const std::string& name, double fallback) const;
  unsigned long count(const std::string& name, unsigned long fallback, unsigned long minimum) const;

 private:
  std::map<std::string, std::vector<std::string>> values_;
};

using CommandFunction = int (*)(Host& host, const CommandOptions& options);

struct CommandSpec {
  const char* name;
  const char* synopsis;  // the options part of the usage line
  const char* summary;   // what it does, may span lines
  std::vector<OptionSpec> options;
  CommandFunction run;
};

struct CommandLine {
  bool help = false;
  GlobalOptions global;
  const CommandSpec* command = nullptr;
  CommandOptions options;
};

// The global options, for parsing and for --help.
const std::vector<OptionSpec>& globalOptionSpecs();

CommandLine parseCommandLine(int argc, const char* const* argv, const std::vector<CommandSpec>& commands);

}  // namespace qrmhost
