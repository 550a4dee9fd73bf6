#include "BaseDetection.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "ProfileAnswers.h"
#include "ResponseCheck.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

using Talvo::Utility::ParamsMap;

namespace {

const char kMessageProfilesRead[] = "/admin/control?read&section=msgsysprofiles&profile";
const char kDefaultName[] = "AN";

std::string actionGroupsRead() {
  std::string uri = "/control/control?read&section=actions";
  for (int slot = 1; slot <= 20; ++slot) uri += "&ah" + std::to_string(slot) + "_name";
  return uri;
}

std::string bodyText(const Talvo::http::Body& body) { return std::string(body.begin(), body.end()); }

}  // namespace

BaseDetection::BaseDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                             const std::string& detectorId, std::string eventName, std::string defaultName,
                             Device* device)
    : VideoAnalyticsBase(handler, detectorId, device->deviceLogger(),
                         (boost::format("va %1%, %2%") % detectorId % channel).str(), device->driverInfo()),
      device_(device),
      channel_(channel),
      eventName_(std::move(eventName)),
      holder_(contract(), handler, device->deviceLogger(), device->ioContext()),
      name_(defaultName.empty() ? kDefaultName : std::move(defaultName)),
      endTimer_(device->ioContext()) {
  rebuildLogger();
}

BaseDetection::~BaseDetection() = default;

Talvo::LoggerOwner BaseDetection::log() const {
  std::lock_guard<std::mutex> lock(loggerMutex_);
  return *logger_;
}

// "[addr ...][va <name>, <channel>]": the device's prefix joined with the detector's.
void BaseDetection::rebuildLogger() {
  const Talvo::LoggerOwner deviceLogger = device_->deviceLogger();
  const std::string own = (boost::format("va %1%, %2%") % name_ % channel_).str();
  auto logger =
      std::make_shared<const Talvo::LoggerOwner>(deviceLogger.logger(), deviceLogger.prefix() + "[" + own + "]");
  std::lock_guard<std::mutex> lock(loggerMutex_);
  logger_ = std::move(logger);
}

void BaseDetection::Destroy() {
  Stop();
  std::shared_ptr<BaseDetection> last;
  last.swap(self_);  // the object goes when the last step in progress lets it go
}

void BaseDetection::Start() {
  auto self = shared_from_this();
  holder_.start([self] {
    self->device().enableArming();
    self->enqueueStep(Step::Provision);
  });
}

void BaseDetection::Stop() {
  auto self = shared_from_this();
  holder_.stop([self](Holder) {
    self->cancelPreparation();
    self->enqueueStep(Step::Cleanup);
  });
}

void BaseDetection::enqueueStep(Step step) {
  if (step == Step::Cleanup && stepRunning_)
    NLOG(log(), 0, " Clearing profiles for '" << name_ << "' is postponed until working creating is fully finished");
  steps_.push_back(step);
  if (!stepRunning_) runNextStep();
}

void BaseDetection::runNextStep() {
  if (steps_.empty()) {
    // Idle again: the settings that waited go out now, in the order they came.
    for (; deferredSettings_ > 0 && !stepRunning_ && steps_.empty(); --deferredSettings_) applyPendingSet();
    return;
  }
  const Step step = steps_.front();
  steps_.pop_front();
  stepRunning_ = true;
  auto self = shared_from_this();
  if (step == Step::Cleanup)
    cleanupCreatedProfiles();
  else if (step == Step::Recheck)
    checkAndCreateEventProfiles(true);
  else
    prepareRun([self] { self->checkAndCreateEventProfiles(false); });
}

void BaseDetection::stepFinished() {
  stepRunning_ = false;
  runNextStep();
}

std::string BaseDetection::getDetectorName() const {
  std::string shown = Talvo::Utility::anyOr<std::string>(parameters().getPersistentParam("detectorName"), "");
  if (shown.empty() || shown == "-") shown = name_;
  return shown;
}

std::shared_ptr<Talvo::Utility::AsyncMultiRequest> BaseDetection::makeBatch() {
  try {
    return Talvo::Utility::AsyncMultiRequest::create(device_->connectionInfo(), device_->ioContext(), log().logger());
  } catch (const std::exception& e) {
    NLOG(log(), 3, " Camera connection unknown: " << e.what());
    return nullptr;
  }
}

void BaseDetection::checkAndCreateEventProfiles(bool again) {
  const std::string before = name_;
  if (!again) {
    profilesReady_ = false;
    baselineTaken_ = false;
    lastChange_ = 0;
    if (name_.empty()) name_ = kDefaultName;
    name_ = device_->detectorManager().registerDetector(*this);
    rebuildLogger();
    eventProfileCreated_ = messageProfileCreated_ = false;
    actionSlot_.clear();
  }
  NLOG(log(), 0, " Checking profiles" << (name_ != before ? ", after change from '" + before + "'" : std::string()));
  const Batch batch = makeBatch();
  if (!batch) {
    stepFinished();
    return;
  }
  const std::string type = eventType();
  addRead(batch, "/control/control?read&section=event_" + type + "&" + type, "Read event profiles",
          " Checking event profile is canceled", &BaseDetection::handleReadEventProfiles);
  addRead(batch, kMessageProfilesRead, "Read messages", " Checking message profile is canceled",
          &BaseDetection::handleReadMessages);
  addRead(batch, actionGroupsRead(), "Read action groups", " Checking action profile is canceled",
          &BaseDetection::handleReadActionGroups);
  auto self = shared_from_this();
  batch->start([self](const boost::system::error_code& error) {
    NLOG(self->log(), 0,
         " Checking profiles for '" << self->name_ << "' is finished with result "
                                    << Talvo::Utility::translateSystemError(error));
    self->profilesReady_ = true;
    self->stepFinished();
  });
}

void BaseDetection::addRead(const Batch& batch, const std::string& uri, const char* requestName,
                            const char* canceledText, void (BaseDetection::*handle)(const Batch&, const std::string&)) {
  auto self = shared_from_this();
  std::weak_ptr<Talvo::Utility::AsyncMultiRequest> weakBatch = batch;
  batch->addGetRequest(uri, 0,
                       [self, weakBatch, requestName, canceledText, handle](const boost::system::error_code& error,
                                                                            const Talvo::http::Body& body,
                                                                            const Talvo::http::HttpResponse& response) {
                         const Talvo::LoggerOwner logger = self->log();
                         if (!self->holder_.isActive()) {
                           NLOG(logger, 0, canceledText);
                           return;
                         }
                         if (!isDeviceResponseOk(error, body, response, logger, requestName)) return;
                         if (const Batch running = weakBatch.lock()) ((*self).*handle)(running, bodyText(body));
                       });
}

void BaseDetection::addSet(const Batch& batch, const std::string& uri) { batch->addGetRequest(uri, 0, nullptr); }

void BaseDetection::handleReadEventProfiles(const Batch& batch, const std::string& body) {
  const std::string shown = getDetectorName();
  const std::string type = eventType();
  if (const auto key = findEventProfileKey(body, type, shown)) {
    name_ = *key;
    rebuildLogger();
    NLOG(log(), 0, " '" << shown << "' event profile on camera already exists with profilename = " << name_);
    return;
  }
  NLOG(log(), 0, " Create '" << name_ << "' event profile on camera");
  eventProfileCreated_ = true;
  addSet(batch, "/control/control?set&section=event_" + type + "&" + type + "=" + name_ + ":_profilename=" + shown +
                    ":" + type + "_dead=0:" + type + "_sens=" + sensorType() + sensorParameters());
}

void BaseDetection::handleReadMessages(const Batch& batch, const std::string& body) {
  if (hasMessageProfile(body, name_)) {
    NLOG(log(), 0, " '" << name_ << "' message profile on camera exists");
    return;
  }
  NLOG(log(), 0, " Create '" << name_ << "' message profile on camera");
  messageProfileCreated_ = true;
  addSet(batch, "/admin/control?set&section=msgsysprofiles&profile=" + name_ + ":_profilename=" + name_ +
                    ":message=" + name_ + ":range=local:with_data=0:data=");
}

void BaseDetection::handleReadActionGroups(const Batch& batch, const std::string& body) {
  const ActionSlots slots = findActionSlots(body, name_);
  if (!slots.own.empty()) {
    NLOG(log(), 0, " '" << name_ << "' action profile on camera exists");
    const std::string slot = slots.own;
    auto self = shared_from_this();
    std::weak_ptr<Talvo::Utility::AsyncMultiRequest> weakBatch = batch;
    batch->addGetRequest("/control/control?read&section=actions&" + slot + "_subactions", 0,
                         [self, weakBatch, slot](const boost::system::error_code& error, const Talvo::http::Body& body,
                                                 const Talvo::http::HttpResponse& response) {
                           if (!self->holder_.isActive()) return;
                           if (!isDeviceResponseOk(error, body, response, self->log(), "Read action")) return;
                           if (const Batch running = weakBatch.lock())
                             self->handleReadAction(running, slot, bodyText(body));
                         });
    return;
  }
  if (slots.free.empty()) {
    NLOG(log(), 3, " Can not create action groups, no empty slots. No notificataions from detector will be received.");
    return;
  }
  const std::string& slot = slots.free;
  NLOG(log(), 0, " Create '" << name_ << "' action profile on camera as " << slot);
  actionSlot_ = slot;
  addSet(batch, "/control/control?set&section=actions&" + slot + "_name=" + name_ + "&" + slot + "_arming=enable&" +
                    slot + "_timetable=&" + slot + "_events=" + boost::to_upper_copy(eventType()) + "," + name_ + "&" +
                    slot + "_deadtime=1&" + slot + "_chaining=par&" + slot + "_subactions=0000:action=MS," + name_ +
                    ":timeout=0");
}

void BaseDetection::handleReadAction(const Batch& batch, const std::string& slot, const std::string& body) {
  if (hasMessageAction(body, name_)) {
    NLOG(log(), 0, " '" << name_ << "' proper action already has been defined");
    return;
  }
  addSet(batch, "/control/control?set&section=actions&" + slot + "_subactions=0000:action=MS," + name_ + ":timeout=0");
}

void BaseDetection::cleanupCreatedProfiles() {
  profilesReady_ = false;
  NLOG(log(), 0, " Clearing profiles for '" << name_ << "'");
  const Batch batch = makeBatch();
  if (batch && !actionSlot_.empty()) {
    addSet(batch, "/control/control?section=actions&delete_profile=" + actionSlot_ + "_subactions:0000");
    addSet(batch, "/control/control?section=actions&" + actionSlot_ + "_name=&" + actionSlot_ + "_arming=disable");
    NLOG(log(), 0, " Remove '" << name_ << "' action profile on camera as " << actionSlot_);
  }
  actionSlot_.clear();
  if (batch && messageProfileCreated_) {
    addSet(batch, "/admin/control?section=msgsysprofiles&delete_profile=profile:" + name_);
    NLOG(log(), 0, " Remove '" << name_ << "' message profile on camera");
  }
  messageProfileCreated_ = false;
  if (batch && eventProfileCreated_) {
    const std::string type = eventType();
    addSet(batch, "/control/control?section=event_" + type + "&delete_profile=" + type + ":" + name_);
    NLOG(log(), 0, " Remove '" << name_ << "' event profile on camera");
  }
  eventProfileCreated_ = false;
  device_->detectorManager().unregisterDetector(*this);
  // An event begun is ended before the host hears Stopped: it would keep an alarm open forever.
  boost::system::error_code ignored;
  endTimer_.cancel(ignored);
  endEvent();
  if (!batch) {
    holder_.reportStopped();
    stepFinished();
    return;
  }
  auto self = shared_from_this();
  batch->start([self](const boost::system::error_code& error) {
    NLOG(self->log(), 0,
         " Clearing profiles for '" << self->name_ << "' is finished with result "
                                    << Talvo::Utility::translateSystemError(error));
    self->holder_.reportStopped();
    self->stepFinished();
  });
}

// The first answer after Start is the baseline: a record the camera held already is an old
// alarm; no record means that the first record to appear is a new one.
void BaseDetection::onEventVariableAbsent() {
  if (baselineTaken_) return;
  baselineTaken_ = true;
  lastChange_ = 0;
}

void BaseDetection::onEventVariableChanged(uint64_t timeMs) {
  if (!baselineTaken_ || !holder_.isActive()) {
    baselineTaken_ = true;
    lastChange_ = timeMs;
    return;
  }
  if (timeMs == lastChange_) return;
  eventFactory().RaiseTwoPhaseEvent(eventName_, true, timeMs, "", detectorId());
  eventStamp_ = Talvo::Utility::timeStamp();
  eventTime_ = timeMs;
  lastChange_ = timeMs;
  boost::system::error_code ignored;
  endTimer_.cancel(ignored);
  endTimer_.expires_from_now(boost::posix_time::milliseconds(device_->detectorManager().eventEndDelay().count()));
  endArmed_ = true;
  auto self = shared_from_this();
  endTimer_.async_wait([self](const boost::system::error_code& error) {
    if (!error) self->endEvent();
  });
}

void BaseDetection::endEvent() {
  if (!endArmed_) return;
  endArmed_ = false;
  const uint64_t now = Talvo::Utility::timeStamp();
  const uint64_t elapsed = now > eventStamp_ ? now - eventStamp_ : 0;
  eventFactory().RaiseTwoPhaseEvent(eventName_, false, eventTime_ + elapsed, "", detectorId());
}

// A camera that was away may have been reset: check again and create what is missing.
void BaseDetection::onCameraBack() {
  if (!holder_.isActive() || stepRunning_ || !steps_.empty() || !profilesReady_) return;
  NLOG(log(), 1, " Camera answers again: checking profiles of '" << name_ << "'");
  enqueueStep(Step::Recheck);
}

void BaseDetection::ApplySettings(Talvo::IAsyncActionHandler* handler) {
  SimpleAdjuster::ApplySettings(handler);
  auto self = shared_from_this();
  boost::asio::post(device_->ioContext(), [self] { self->applyOrDefer(); });
}

// Settings for a profile still being made would reach the camera before it, and the create
// request would replace them: they wait for the run, and their code is the camera's answer.
void BaseDetection::applyOrDefer() {
  if (holder_.isActive() && (stepRunning_ || !steps_.empty())) {
    ++deferredSettings_;
    return;
  }
  applyPendingSet();
}

void BaseDetection::applyPendingSet() {
  ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters().popParameters(set, handler)) return;
  parameters().updateParams(set);
  if (processBlockingConfiguration(set, handler)) return;
  auto done = Talvo::Utility::wrapAsyncActionHandler(handler, contract(), "ApplySettings", log());
  if (!holder_.isActive()) {
    NLOG(log(), 0, " Applying Canceled or called befor start");
    done(0);
    return;
  }
  applySettings(set, done);
}

}  // namespace Vantrel
