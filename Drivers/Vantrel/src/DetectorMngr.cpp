#include "DetectorMngr.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ResponseCheck.h"

namespace Vantrel {

namespace {
const char kEventVariablesPath[] = "/api/json/status/messagesystem/eventvariables/log";
}  // namespace

constexpr std::chrono::milliseconds DetectorMngr::kPollInterval;
constexpr std::chrono::milliseconds DetectorMngr::kEventEndDelay;

DetectorMngr::DetectorMngr(Talvo::Utility::AsyncConnectionPolicyBase& owner)
    : owner_(owner), pollTimer_(owner.ioContext()) {}

DetectorMngr::~DetectorMngr() { shutdown(); }

void DetectorMngr::shutdown() {
  boost::system::error_code ignored;
  pollTimer_.cancel(ignored);
  if (pendingRequest_) pendingRequest_->cancel();
  pendingRequest_.reset();
}

void DetectorMngr::setTimings(std::chrono::milliseconds pollInterval, std::chrono::milliseconds eventEndDelay) {
  pollInterval_ = pollInterval;
  eventEndDelay_ = eventEndDelay;
}

bool DetectorMngr::onConnectionThread(const char* function) const {
  if (owner_.isCalledFromConnectionThread()) return true;
  const Talvo::LoggerOwner log = logger();
  if (log.isLevelEnabled(3)) log.log(3, __FILE__, __LINE__, function, " Attempt to call from wrong thred");
  return false;
}

std::string DetectorMngr::registerDetector(PolledDetector& detector) {
  if (!onConnectionThread("registerDetector")) return detector.detectorName();
  if (detectors_.count(&detector)) return detector.detectorName();  // registered once, named once
  const std::string name = selectDetectorName(detector.detectorName());
  NLOG(logger(), 0, " Add detector: " << name);
  if (detectors_.insert(&detector).second && detectors_.size() == 1) {
    NLOG(logger(), 0, " Start polling detector events");
    pollFailed_ = false;
    schedulePoll();
  }
  return name;
}

void DetectorMngr::unregisterDetector(PolledDetector& detector) {
  if (!onConnectionThread("unregisterDetector")) return;
  NLOG(logger(), 0, " Remove detector: " << detector.detectorName());
  detectors_.erase(&detector);
  if (!detectors_.empty()) return;
  NLOG(logger(), 0, " Stop polling detector events");
  shutdown();
}

PolledDetector* DetectorMngr::findDetectorByName(const std::string& name) const {
  if (!onConnectionThread("findDetectorByName")) return nullptr;
  for (PolledDetector* detector : detectors_)
    if (detector->detectorName() == name) return detector;
  return nullptr;
}

std::string DetectorMngr::selectDetectorName(const std::string& base) const {
  if (!onConnectionThread("selectDetectorName")) return std::string();
  const auto taken = [this](const std::string& name) {
    for (PolledDetector* detector : detectors_)
      if (detector->detectorName() == name) return true;
    return false;
  };
  if (!taken(base)) return base;
  for (unsigned number = 2;; ++number) {
    const std::string candidate = base + std::to_string(number);
    if (!taken(candidate)) return candidate;
  }
}

void DetectorMngr::schedulePoll() {
  boost::system::error_code ignored;
  pollTimer_.cancel(ignored);
  pollTimer_.expires_from_now(boost::posix_time::milliseconds(pollInterval_.count()));
  pollTimer_.async_wait([this](const boost::system::error_code& error) {
    if (!error) pollDetectionStatus();
  });
}

void DetectorMngr::pollDetectionStatus() {
  Talvo::asio::ConnectionInfo info;
  try {
    info = owner_.connectionInfo();
  } catch (const std::exception& e) {
    NLOG(logger(), 3, " Read detection status: " << e.what());
    schedulePoll();
    return;
  }
  Talvo::http::asyncGetEx(
      info, kEventVariablesPath, owner_.ioContext(), 0,
      [this](const boost::system::error_code& error, const Talvo::http::Body& body,
             const Talvo::http::HttpResponse& response) { handleStatus(error, body, response); },
      pendingRequest_, owner_.rawLogger());
}

void DetectorMngr::handleStatus(const boost::system::error_code& error, const Talvo::http::Body& body,
                                const Talvo::http::HttpResponse& response) {
  pendingRequest_.reset();
  if (detectors_.empty()) return;  // polling has ended
  if (!isDeviceResponseOk(error, body, response, logger(), "Read detection status")) {
    pollFailed_ = true;
    schedulePoll();
    return;
  }
  if (pollFailed_) {
    pollFailed_ = false;
    NLOG(logger(), 1, " Detector events answer again: checking the profiles of " << detectors_.size() << " detectors");
    const std::set<PolledDetector*> current = detectors_;
    for (PolledDetector* detector : current)
      if (detectors_.count(detector)) detector->onCameraBack();
  }
  EventVariables variables;
  parseEventVariables(logger(), std::string(body.begin(), body.end()), variables);
  dispatch(variables);
  if (!detectors_.empty()) schedulePoll();
}

void DetectorMngr::dispatch(const EventVariables& variables) {
  // A detector may unregister while it is called: walk a copy, skip those gone.
  const std::set<PolledDetector*> current = detectors_;
  for (PolledDetector* detector : current) {
    if (!detectors_.count(detector)) continue;
    const auto found = variables.find(detector->detectorName());
    if (found != variables.end())
      detector->onEventVariableChanged(found->second);
    else
      detector->onEventVariableAbsent();
  }
}

}  // namespace Vantrel
