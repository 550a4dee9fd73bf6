// Vantrel::IODeviceZl232Gen: a generic RS-232 I/O box with two inputs and two outputs that
// talks to the camera through its message system. The camera lists its connected boards; the
// board with the channel's "baseZl232GenIndex" gets a message table (unless it has one) whose
// state machine sends a message on every input edge and switches its outputs on messages.
// Each input edge message triggers an event profile AN<n><k>H (rising) or AN<n><k>L (falling),
// n = board index + 1, k = input + 1; outputs are switched by sending their messages.
// Threads as IODeviceProfileBased.
#pragma once

#include <string>

#include "IODeviceProfileBased.h"

namespace Vantrel {

class IODeviceZl232Gen : public IODeviceProfileBased {
 public:
  // The message table of a board whose messages begin with `prefix`.
  static std::string boardMessageConfig(const std::string& prefix);

 protected:
  IODeviceZl232Gen(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);

  void startProfileDefines() override;
  std::string relayUrl(uint32_t output, bool active) const override;
  void handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) override;
  friend class IODeviceProfileBased;

 private:
  // Connection thread.
  void onBoardDescriptions();
  void defineBoardSettings(const std::function<void()>& then);
  void defineEventProfiles();
  std::string eventProfile(uint32_t input, bool rising) const;
  std::string inputMessage(uint32_t input, bool rising) const;

  uint32_t boardIndex_ = 0;
  std::string messagePrefix_;  // the board's serial, once its description was read
};

}  // namespace Vantrel
