// The readers of the camera's message-system answers over any bytes: the event-variable log
// (JSON) and the key=value answers about event profiles, message profiles and action groups.
#include <cstddef>
#include <cstdint>
#include <string>

#include "EventVariables.h"
#include "ProfileAnswers.h"
#include "host/Contract.h"

namespace {

// Forms every message, as a real logger at level 0 would, and drops it.
class SilentLogger : public Talvo::ILogger {
 public:
  void* Cast(const char*) override { return nullptr; }
  void* QueryContract(const char*) override { return nullptr; }
  int GetLevel() override { return 0; }
  void SetOption(const char*, const char*) override {}
  void Log(int, const char*, int, const char*, const char*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentLogger silent;
  static const Talvo::LoggerOwner logger(&silent, "fuzz");
  const std::string answer(reinterpret_cast<const char*>(data), size);
  Vantrel::EventVariables variables;
  Vantrel::parseEventVariables(logger, answer, variables);
  Vantrel::findEventProfileKey(answer, "ima", "orbexMD");
  Vantrel::findEventProfileKey(answer, "env", "");
  Vantrel::hasMessageProfile(answer, "AN");
  Vantrel::findActionSlots(answer, "orbexMD");
  Vantrel::findActionSlots(answer, "");
  Vantrel::hasMessageAction(answer, "orbexMD");
  return 0;
}
