// The settings adjuster of the channels.
#include "host/Nuvlet/SimpleAdjuster.h"

#include <string>

namespace Talvo {
namespace Utility {

namespace {
// The answer to a set that finds the queue full.
constexpr int kBusy = 16;
}  // namespace

void SimpleAdjuster::SetValue(const char* name, bool value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, int value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, double value) {
  if (name) parameters_.setValue(name, value);
}

void SimpleAdjuster::SetValue(const char* name, const char* value) {
  if (name) parameters_.setValue(name, std::string(value ? value : ""));
}

void SimpleAdjuster::ApplySettings(IAsyncActionHandler* handler) {
  if (!parameters_.queueChanges(handler) && handler) handler->Finished(source_, kBusy);
}

bool SimpleAdjuster::processBlockingConfiguration(const ParamsMap& set, IAsyncActionHandler* handler) {
  if (!anyOr<bool>(parameters_.getPersistentParam("blockConfiguration"), false)) return false;
  if (handler) handler->Finished(source_, 0);
  return true;
}

}  // namespace Utility
}  // namespace Talvo
