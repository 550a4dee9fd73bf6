// qrmhost: a small command-line host for driver modules. See docs/qrmhost.md.
#include <cstdio>
#include <exception>
#include <string>

#include "Arguments.h"
#include "Console.h"
#include "ExitError.h"
#include "Host.h"
#include "StopControl.h"

namespace {

int runCommand(const qrmhost::CommandLine& line, qrmhost::Console& console) {
  qrmhost::StopRequest stop;
  qrmhost::SignalWatcher watcher(stop);
  qrmhost::Host host(line.global, console, stop);
  return line.run(host);
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything starts a thread: only the signal watcher is to take Ctrl-C.
  qrmhost::blockStopSignals();
  qrmhost::Console console;
  try {
    const auto line = qrmhost::parseCommandLine(argc, argv);
    if (line.help) {
      std::fputs(line.help->c_str(), stdout);
      return qrmhost::kExitOk;
    }
    return runCommand(line, console);
  } catch (const qrmhost::ExitError& error) {
    console.message(std::string("qrmhost: ") + error.what());
    return error.status();
  } catch (const std::exception& error) {
    console.message(std::string("qrmhost: ") + error.what());
    return qrmhost::kExitFailure;
  }
}
