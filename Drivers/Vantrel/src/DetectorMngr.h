// Vantrel::DetectorMngr: the device's detector manager. Detectors that provision profiles on the
// camera register here under a unique name (the key of their camera-side message); while any is
// registered the manager polls the camera's event-variable log once a second and hands each
// detector the change time of its message.
//
// Threads: every operation runs on the device's connection thread (the public ones check it and
// do nothing else when called elsewhere); timer and request completions run there by
// construction, so the set needs no lock. Registered detectors must unregister before they go.
#pragma once

#include <chrono>
#include <cstdint>
#include <set>
#include <string>

#include <boost/asio/deadline_timer.hpp>

#include "EventVariables.h"
#include "host/Nuvlet/ConnectionPolicy.h"
#include "host/Nuvlet/Http.h"

namespace Vantrel {

// What the manager calls on a registered detector (connection thread).
class PolledDetector {
 public:
  virtual ~PolledDetector() = default;
  virtual const std::string& detectorName() const = 0;
  // The camera's log holds a change time for the detector's message.
  virtual void onEventVariableChanged(uint64_t timeMs) = 0;
  // A good answer of the log held no record of the detector's message.
  virtual void onEventVariableAbsent() = 0;
  // The log answers again after failed polls: the camera may have forgotten its profiles.
  virtual void onCameraBack() = 0;
};

class DetectorMngr {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{1000};
  static constexpr std::chrono::milliseconds kEventEndDelay{5000};

  // `owner` outlives the manager; the manager is destroyed before the owner's io_context.
  explicit DetectorMngr(Talvo::Utility::AsyncConnectionPolicyBase& owner);
  ~DetectorMngr();
  DetectorMngr(const DetectorMngr&) = delete;
  DetectorMngr& operator=(const DetectorMngr&) = delete;

  // The chosen unique name; the caller stores it as the detector's name.
  std::string registerDetector(PolledDetector& detector);
  void unregisterDetector(PolledDetector& detector);
  PolledDetector* findDetectorByName(const std::string& name) const;
  // `base`, else base2, base3, ...: the first name no registered detector bears.
  std::string selectDetectorName(const std::string& base) const;

  // Timings; tests may shorten them. Set before the first detector registers.
  void setTimings(std::chrono::milliseconds pollInterval, std::chrono::milliseconds eventEndDelay);
  std::chrono::milliseconds eventEndDelay() const { return eventEndDelay_; }

  // Stops polling for good (the device goes). Connection thread or after it ended.
  void shutdown();

 private:
  bool onConnectionThread(const char* function) const;
  void schedulePoll();
  void pollDetectionStatus();
  void handleStatus(const boost::system::error_code& error, const Talvo::http::Body& body,
                    const Talvo::http::HttpResponse& response);
  void dispatch(const EventVariables& variables);
  Talvo::LoggerOwner logger() const { return owner_.deviceLogger(); }

  Talvo::Utility::AsyncConnectionPolicyBase& owner_;
  std::set<PolledDetector*> detectors_;
  boost::asio::deadline_timer pollTimer_;
  Talvo::http::AsyncOperationPtr pendingRequest_;
  bool pollFailed_ = false;  // the last poll got no good answer
  std::chrono::milliseconds pollInterval_ = kPollInterval;
  std::chrono::milliseconds eventEndDelay_ = kEventEndDelay;
};

}  // namespace Vantrel
