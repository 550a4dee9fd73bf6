// The command table: one entry per command, each implemented in its own Command<Name>.cpp.
// A new command adds its function here and its entry in Commands.cpp.
#pragma once

#include <string>
#include <vector>

#include "Arguments.h"

namespace qrmhost {

class Host;

// Each runs on the main thread and returns the exit status; failures throw ExitError.
int runModels(Host& host, const CommandOptions& options);
int runDevice(Host& host, const CommandOptions& options);
int runLive(Host& host, const CommandOptions& options);

const std::vector<CommandSpec>& commandTable();

// The full --help text.
std::string helpText();

}  // namespace qrmhost
