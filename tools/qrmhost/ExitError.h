// The one way a command ends the program early with a message.
#pragma once

#include <stdexcept>
#include <string>

namespace qrmhost {

// Exit statuses of qrmhost, the same for every command (docs/qrmhost.md has the table).
constexpr int kExitOk = 0;       // the command did what it was asked (also when stopped by Ctrl-C)
constexpr int kExitFailure = 1;  // a fault of qrmhost itself (an unexpected exception)
constexpr int kExitUsage = 2;    // bad command line, module that will not load, unknown model
constexpr int kExitCamera = 3;   // the camera failed it: refused, unreachable, wrong password, no picture
constexpr int kExitOutput = 4;   // an output (picture, heat map, file) could not be written

// kExitOk when the command's goal was reached, else kExitCamera.
inline int cameraOutcome(bool reached) { return reached ? kExitOk : kExitCamera; }

// Thrown on the main thread only; main() prints "qrmhost: <message>" on stderr and exits with
// `status`. Never carries a password: build messages from display forms only.
class ExitError : public std::runtime_error {
 public:
  ExitError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// A bad command line: exit status 2.
inline ExitError usageError(const std::string& message) { return ExitError(kExitUsage, message); }

}  // namespace qrmhost
