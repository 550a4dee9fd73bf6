// Vantrel::IODeviceProfileBasedClassic: boards with fixed pins (IODeviceZl232IOBox on the
// camera's serial port, IODeviceZlBusIO on its bus). Input i is the camera event
// <board>_SI<i>, output i the event <board>_SO<i>, switched by the signal-output profiles
// <board>_SO<i>_ON and <board>_SO<i>_OFF; the board defines those that the camera lacks.
// Threads as IODeviceProfileBased.
#pragma once

#include <string>

#include "IODeviceProfileBased.h"

namespace Vantrel {

class IODeviceProfileBasedClassic : public IODeviceProfileBased {
 public:
  // Event names of input and output `index`.
  std::string inputEvent(uint32_t index) const;
  std::string outputEvent(uint32_t index) const;

 protected:
  IODeviceProfileBasedClassic(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, const std::string& boardName,
                              Device* device);

  void startProfileDefines() override;
  std::string relayUrl(uint32_t output, bool active) const override;
  void handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) override;

  // The camera's pin names ("mo,7"); empty, with a level-0 message, for an index the board lacks.
  virtual std::string getPinOutName(uint32_t index) const = 0;
  virtual std::string getPinInName(uint32_t index) const = 0;
  const std::string& boardName() const { return boardName_; }

 private:
  // Connection thread.
  void defineEvents(const std::string& existing);
  void onSignalOutputProfiles(const std::string& existing);
  void define(const std::string& logText, const std::string& uri);

  const std::string boardName_;
};

// The board on the camera's serial port.
class IODeviceZl232IOBox : public IODeviceProfileBasedClassic {
 protected:
  IODeviceZl232IOBox(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);
  std::string getPinOutName(uint32_t index) const override;
  std::string getPinInName(uint32_t index) const override;
  friend class IODeviceProfileBased;
};

// The board on the camera's bus.
class IODeviceZlBusIO : public IODeviceProfileBasedClassic {
 protected:
  IODeviceZlBusIO(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);
  std::string getPinOutName(uint32_t index) const override;
  std::string getPinInName(uint32_t index) const override;
  friend class IODeviceProfileBased;
};

}  // namespace Vantrel
