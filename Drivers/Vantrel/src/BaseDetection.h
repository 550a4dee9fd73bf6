// Vantrel::BaseDetection: the base of the detectors whose analysis runs inside the camera
// (motion, situation, thermal). On Start it makes the camera report the detector's alarms where
// the device's detector manager can see them: an event profile in section "event_<type>", a
// message profile named like the detector and an action group (one of ah1 ... ah20) that sends
// that message when the event profile fires. Profiles that exist already are reused; on Stop
// only what this detector created is removed. Each change of the message's time raises a
// two-phase event to the host, ended by a timer after the last change.
//
// Ownership: the host owns the detector until Destroy; every asynchronous step holds a shared
// reference, so a step still queued when the host lets go finds the object alive.
// Threads: Start, Stop, Destroy, SetValue, ApplySettings and the visual setters on host threads;
// everything else (provisioning, manager calls, settings, the end timer) on the device's
// connection thread. The handler holder tells late steps that the detector was stopped.
// The detector's runs on the camera (provisioning, a re-check, the cleanup after Stop) go one at
// a time in call order, so that a Start right after a Stop finds the camera as the cleanup left
// it; settings applied while a run is under way wait until it is finished.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/deadline_timer.hpp>

#include "DetectorMngr.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/HttpMultiRequest.h"

namespace Vantrel {

class Device;

class BaseDetection : public Talvo::Utility::VideoAnalyticsBase,
                      public PolledDetector,
                      public std::enable_shared_from_this<BaseDetection> {
 public:
  // Makes a detector that the host owns until Destroy.
  template <class Detector, class... Arguments>
  static Detector* create(Arguments&&... arguments) {
    std::shared_ptr<Detector> detector(new Detector(std::forward<Arguments>(arguments)...));
    detector->self_ = detector;
    return detector.get();
  }
  ~BaseDetection() override;

  void Destroy() override;
  void Start() override;
  void Stop() override;
  // Queues the set; it is applied on the device's thread.
  void ApplySettings(Talvo::IAsyncActionHandler* handler) override;

  // PolledDetector (connection thread).
  const std::string& detectorName() const override { return name_; }
  void onEventVariableChanged(uint64_t timeMs) override;
  void onEventVariableAbsent() override;
  void onCameraBack() override;

  // The display name: the "detectorName" setting, else the detector's name.
  std::string getDetectorName() const;

 protected:
  BaseDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel, const std::string& detectorId,
                std::string eventName, std::string defaultName, Device* device);

  // The camera's event section key ("ima", "env"), the sensor written after "_sens=" and what
  // follows it in the created event profile.
  virtual std::string eventType() const = 0;
  virtual std::string sensorType() const = 0;
  virtual std::string sensorParameters() = 0;
  // Connection thread: sends `set` to the camera and ends with `done`.
  virtual void applySettings(const Talvo::Utility::ParamsMap& set, Talvo::Utility::ActionCompletion done) = 0;
  // Connection thread: what a run asks the camera before its profiles are checked; `then` goes
  // on with the run (exactly once). cancelPreparation ends such a question early (Stop).
  virtual void prepareRun(std::function<void()> then) { then(); }
  virtual void cancelPreparation() {}

  Device& device() const { return *device_; }
  uint32_t channel() const { return channel_; }
  // The detector's logger (its prefix names the detector); any thread.
  Talvo::LoggerOwner log() const;
  // A batch on the device's thread with the device's connection and this detector's logger;
  // null (logged) when the connection text cannot be read.
  std::shared_ptr<Talvo::Utility::AsyncMultiRequest> makeBatch();

 private:
  using Batch = std::shared_ptr<Talvo::Utility::AsyncMultiRequest>;
  using Holder = Talvo::Utility::HandlerHolderVideoAnalytic;
  enum class Step { Provision, Recheck, Cleanup };

  // Connection thread: runs `step` after those queued; stepFinished runs the next.
  void enqueueStep(Step step);
  void runNextStep();
  void stepFinished();

  // Connection thread. `again`: a re-check of a running detector (its name and what it created
  // so far stay).
  void checkAndCreateEventProfiles(bool again);
  void handleReadEventProfiles(const Batch& batch, const std::string& body);
  void handleReadMessages(const Batch& batch, const std::string& body);
  void handleReadActionGroups(const Batch& batch, const std::string& body);
  void handleReadAction(const Batch& batch, const std::string& slot, const std::string& body);
  // Adds a read to `batch` whose good answer goes to `handle` while the detector is active.
  void addRead(const Batch& batch, const std::string& uri, const char* requestName, const char* canceledText,
               void (BaseDetection::*handle)(const Batch&, const std::string&));
  void addSet(const Batch& batch, const std::string& uri);
  // Removes what this detector created; Stopped goes to the host when the camera answered.
  void cleanupCreatedProfiles();
  void applyOrDefer();
  void applyPendingSet();
  void endEvent();
  void rebuildLogger();

  Device* device_;
  uint32_t channel_;
  std::string eventName_;
  Holder holder_;
  std::shared_ptr<BaseDetection> self_;  // the host's ownership, released by Destroy

  // Connection thread only.
  std::string name_;
  bool baselineTaken_ = false;  // the first poll after Start answered
  uint64_t lastChange_ = 0;     // ms; 0: the camera had no record
  bool eventProfileCreated_ = false;
  bool messageProfileCreated_ = false;
  std::string actionSlot_;  // the group this detector created
  bool profilesReady_ = false;
  std::deque<Step> steps_;
  bool stepRunning_ = false;
  size_t deferredSettings_ = 0;  // ApplySettings calls waiting for the running step
  boost::asio::deadline_timer endTimer_;
  bool endArmed_ = false;
  uint64_t eventTime_ = 0;   // camera time of the last begin, ms
  uint64_t eventStamp_ = 0;  // local time stamp of the last begin, ms

  mutable std::mutex loggerMutex_;
  std::shared_ptr<const Talvo::LoggerOwner> logger_;
};

}  // namespace Vantrel
