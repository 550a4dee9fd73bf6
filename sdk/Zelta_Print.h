// The SDK's one output channel. Every message the SDK prints (problems, state changes) and every
// debug trace goes through the sink installed here; without a sink, messages go to standard
// output and traces to standard error, as the SDK always did. The owner (the driver) installs a
// sink that forwards to its logger.
//
// Texts handed to the sink begin with one blank (" connection error"); traces read
// " <function signature>:<line>: <message>". The sink and the debug mask are process-wide: they
// may be set from any thread and are read by every SDK thread; the sink is called on the thread
// of the SDK instance that prints, so it must be thread-safe itself.
#pragma once

#include <functional>
#include <memory>
#include <sstream>
#include <string>

namespace Zelta {

enum class Zelta_PrintKind { Message, Trace };

// Debug mask bits: setup traces, network and parser traces, decoder segment traces.
enum : int { kTraceSetup = 1, kTraceNetwork = 2, kTraceDecoder = 32 };

class Zelta_Print {
 public:
  using Sink = std::function<void(Zelta_PrintKind kind, const std::string& text)>;

  // An empty sink restores the default (standard output / standard error).
  static void setSink(Sink sink);
  static void setDebugMask(int mask);
  static int debugMask();
  static bool tracing(int bits) { return (debugMask() & bits) != 0; }

  // Prints " " + text.
  static void message(const std::string& text);
  // Prints " <function>:<line>: <text>" when one of `bits` is in the debug mask.
  static void trace(int bits, const char* function, int line, const std::string& text);

  // Throws the SDK's precondition error: prints "Exception: <function> failed check: (<condition>)"
  // and throws std::runtime_error with "<function> failed check: (<condition>)".
  [[noreturn]] static void failedCheck(const char* function, const char* condition);

 private:
  static void emit(Zelta_PrintKind kind, const std::string& text);
};

// Formats any streamable arguments into one string.
template <typename... Parts>
std::string concat(const Parts&... parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

}  // namespace Zelta

#define ZELTA_CHECK(condition)                                                            \
  do {                                                                                    \
    if (!(condition)) ::Zelta::Zelta_Print::failedCheck(__PRETTY_FUNCTION__, #condition); \
  } while (false)

#define ZELTA_TRACE(bits, ...)                                                                        \
  do {                                                                                                \
    if (::Zelta::Zelta_Print::tracing(bits))                                                          \
      ::Zelta::Zelta_Print::trace(bits, __PRETTY_FUNCTION__, __LINE__, ::Zelta::concat(__VA_ARGS__)); \
  } while (false)
