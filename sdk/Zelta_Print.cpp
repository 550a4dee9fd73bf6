#include "Zelta_Print.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace Zelta {
namespace {
// Replaced as a whole (atomic shared_ptr access), so printing threads never take a lock.
std::shared_ptr<const Zelta_Print::Sink> g_sink;
std::atomic<int> g_debugMask{0};
}  // namespace

void Zelta_Print::setSink(Sink sink) {
  std::shared_ptr<const Sink> next;
  if (sink) next = std::make_shared<const Sink>(std::move(sink));
  std::atomic_store(&g_sink, next);
}

void Zelta_Print::setDebugMask(int mask) { g_debugMask.store(mask, std::memory_order_relaxed); }
int Zelta_Print::debugMask() { return g_debugMask.load(std::memory_order_relaxed); }

void Zelta_Print::emit(Zelta_PrintKind kind, const std::string& text) {
  const auto sink = std::atomic_load(&g_sink);
  if (sink) {
    (*sink)(kind, text);
    return;
  }
  std::FILE* out = kind == Zelta_PrintKind::Trace ? stderr : stdout;
  std::fprintf(out, "%s\n", text.c_str());
}

void Zelta_Print::message(const std::string& text) { emit(Zelta_PrintKind::Message, " " + text); }

void Zelta_Print::trace(int bits, const char* function, int line, const std::string& text) {
  if (!tracing(bits)) return;
  emit(Zelta_PrintKind::Trace, concat(" ", function, ":", line, ": ", text));
}

void Zelta_Print::failedCheck(const char* function, const char* condition) {
  const std::string what = concat(function, " failed check: (", condition, ")");
  message("Exception: " + what);
  throw std::runtime_error(what);
}

}  // namespace Zelta
