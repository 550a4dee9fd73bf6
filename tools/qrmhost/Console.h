// qrmhost's two output streams. The module calls handlers from several threads at once, so every
// write goes through here: one lock per stream, one whole line per write.
#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "JsonLine.h"
#include "StopControl.h"

namespace qrmhost {

// Any thread may call any member. Holds no lock while calling anything but the C library.
class Console {
 public:
  Console();

  // One JSON object as one line on stdout, flushed at once so that a reader sees it promptly.
  void report(const JsonObject& line);

  // One line of text on stderr (a log message or a qrmhost notice).
  void message(const std::string& line);

  // A progress text on stderr, redrawn in place; does nothing when stderr is not a terminal.
  void progress(const std::string& text);
  // Ends the progress line so that later messages start on a fresh line.
  void endProgress();

  bool showsProgress() const { return progressShowable_; }

 private:
  void clearProgressLocked();

  const bool progressShowable_;
  std::mutex stdoutMutex_;
  std::mutex stderrMutex_;
  bool progressShown_ = false;  // guarded by stderrMutex_
};

// Waits until `stop` is requested or `deadline` passes (true for a stop). For a person at a
// terminal it redraws "<elapsed> s  <text()>" every 250 ms meanwhile and ends the line after.
bool waitShowingProgress(Console& console, StopRequest& stop, Clock::time_point started, Clock::time_point deadline,
                         const std::function<std::string()>& text);

}  // namespace qrmhost
