// Vantrel::IODeviceProfileBasedClassic: boards with fixed pins (IODeviceZl232IOBox on the
// camera's serial port, IODeviceZlBusIO on its bus). Input i is the camera event
// <board>_SI<i>, output i the event <board>_SO<i>, switched by the signal-output profiles
// <board>_SO<i>_ON and <board>_SO<i>_OFF; the board defines those that the camera lacks.
// Threads as IODeviceProfileBased.
#pragma once

#include <array>
#include <string>

#include "IODeviceProfileBased.h"

namespace Vantrel {

class IODeviceProfileBasedClassic : public IODeviceProfileBased {
 public:
  // Event names of input and output `index`.
  std::string inputEvent(uint32_t index) const;
  std::string outputEvent(uint32_t index) const;

 protected:
  // The board's pin names by index ("mo,7").
  struct Pins {
    std::array<const char*, 2> inputs, outputs;
  };
  IODeviceProfileBasedClassic(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, const std::string& boardName,
                              Pins pins, Device* device);

  void startProfileDefines() override;
  std::string relayUrl(uint32_t output, bool active) const override;
  void handleEventList(const std::vector<std::string>& activeEvents, uint64_t timeMs) override;

  // The camera's pin names ("mo,7"); empty, with a level-0 message, for an index the board lacks.
  virtual std::string getPinOutName(uint32_t index) const;
  virtual std::string getPinInName(uint32_t index) const;
  const std::string& boardName() const { return boardName_; }

 private:
  // Connection thread.
  void defineEvents(const std::string& existing);
  void onSignalOutputProfiles(const std::string& existing);
  void define(const std::string& logText, const std::string& uri, IODeviceProfileBasedMngr::Completion done);

  const std::string boardName_;
  const Pins pins_;
};

// The board on the camera's serial port: "ZL232", inputs on pins mo,29 and mo,30, outputs on
// mo,7 and mo,8.
class IODeviceZl232IOBox : public IODeviceProfileBasedClassic {
 protected:
  IODeviceZl232IOBox(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);
  friend class IODeviceProfileBased;
};

// The board on the camera's bus: "IO", inputs and outputs on pins kio,1 and kio,2.
class IODeviceZlBusIO : public IODeviceProfileBasedClassic {
 protected:
  IODeviceZlBusIO(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, Device* device);
  friend class IODeviceProfileBased;
};

}  // namespace Vantrel
