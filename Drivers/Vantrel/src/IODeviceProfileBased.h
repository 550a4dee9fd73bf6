// Vantrel::IODeviceProfileBased: the I/O channel of extension boards whose inputs and outputs
// the camera turns into named events. It does not poll: on Start it registers with the device's
// I/O manager and has the board's profiles defined on the camera; the manager then hands it the
// camera's active-event list from the live stream, and each input or output whose state differs
// from the last one reported reaches the host. Outputs are switched through camera requests.
// The derived classes give the board's names, pins, profiles and requests.
//
// Ownership: the host owns the channel until Destroy; every asynchronous step holds a shared
// reference. Threads: Start, Stop, SetOutput and Destroy on host threads; everything else on the
// device's connection thread, where the host is called too (Stopped on the process-wide
// service). Nothing reaches the host after Stopped but the answers to SetOutput calls. Every
// Stop is answered with Stopped, also on a channel that was not running.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "IODeviceProfileBasedMngr.h"
#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

class Device;

class IODeviceProfileBased : public Talvo::GDRV::IIODevice,
                             public EventListBoard,
                             public std::enable_shared_from_this<IODeviceProfileBased> {
 public:
  // Makes a board channel that the host owns until Destroy.
  template <class Board, class... Arguments>
  static Board* create(Arguments&&... arguments) {
    std::shared_ptr<Board> board(new Board(std::forward<Arguments>(arguments)...));
    board->self_ = board;
    return board.get();
  }
  ~IODeviceProfileBased() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  void Destroy() override;
  uint32_t GetChannel() override { return channel_; }
  void Start() override;
  void Stop() override;
  // The answer goes to `handler` on the connection thread: the camera's, 6 for an index outside
  // the output count, 12 when the channel stops while the switch waits for the board's profiles.
  void SetOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active) override;

 protected:
  IODeviceProfileBased(Talvo::GDRV::IIODeviceHandler* handler, uint32_t channel, const std::string& boardName,
                       Device* device);

  // Connection thread: after the registration, has the board's profiles defined on the camera;
  // ends with started() when the board can report.
  virtual void startProfileDefines() = 0;
  // The camera request that switches output `output` on or off.
  virtual std::string relayUrl(uint32_t output, bool active) const = 0;

  // Connection thread: report a state, only when it differs from the one reported last.
  void reportRayEvent(const std::string& eventName, uint32_t input, bool active, uint64_t timeMs);
  void reportRelayEvent(const std::string& eventName, uint32_t output, bool active, uint64_t timeMs);
  // Connection thread: tells the host that the channel runs, unless it was stopped meanwhile.
  void started();
  // Connection thread: output switches asked for before this call (after a Start) waited for
  // the board's profiles; they go to the camera now, later ones at once.
  void outputsReady();
  bool isStarted() const { return started_.load() != 0; }

  Device& device() const { return *device_; }
  IODeviceProfileBasedMngr& manager() const;
  const Talvo::LoggerOwner& log() const { return logger_; }
  // The channel's own log prefix ("io: 1, ZL232"), which also begins the names of its camera
  // requests.
  const std::string& prefix() const { return prefix_; }
  uint32_t inputCount() const { return inputCount_; }
  uint32_t outputCount() const { return outputCount_; }
  // An integer property of the channel's repository entry, nothing when absent.
  const Talvo::GDRV::PropertyInt* channelProperty(const std::string& name) const;
  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IIODevice*>(this); }

 private:
  // Stop, with Stopped also for a channel that was not running when `reportWhenIdle`.
  void stopChannel(bool reportWhenIdle);
  // Connection thread.
  void switchOutput(Talvo::GDRV::IDigitalOutputHandler* handler, int32_t output, bool active);
  void sendOutput(Talvo::GDRV::IDigitalOutputHandler* handler, uint32_t output, bool active);

  Talvo::GDRV::IIODeviceHandler* const handler_;
  const uint32_t channel_;
  Device* const device_;
  const std::string prefix_;
  const Talvo::LoggerOwner logger_;
  uint32_t inputCount_ = 0;
  uint32_t outputCount_ = 0;
  std::atomic<int> started_{0};
  std::atomic<uint64_t> runs_{0};               // Start calls that started
  std::shared_ptr<IODeviceProfileBased> self_;  // the host's ownership, released by Destroy

  // Connection thread only.
  std::vector<bool> inputBits_;
  std::vector<bool> outputBits_;
  struct HeldOutput {
    Talvo::GDRV::IDigitalOutputHandler* handler;
    uint32_t output;
    bool active;
  };
  bool outputsReady_ = false;
  std::vector<HeldOutput> heldOutputs_;
};

}  // namespace Vantrel
