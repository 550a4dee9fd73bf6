#include "TemperaturesDetection.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <boost/any.hpp>
#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "ResponseCheck.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/NumberText.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

const char kRawDataRead[] = "/control/control?read&section=thermal&uhu_raw_data";
const char kRawDataEnable[] = "/control/control?set&section=thermal&uhu_raw_data=enable";
const char kRawDataDisable[] = "/control/control?set&section=thermal&uhu_raw_data=disable";
const char kTemperaturesRead[] =
    "/control/rcontrol?action=getText&message=TIT=$(FPR.TIT)%0DTIN=$(SEN.TIN.CELSIUS)%0DTOU=$(SEN.TOU.CELSIUS)";
const char kSettingsBase[] =
    "/control/control?set&section=thermal&uhu_tcomp_configure=1+1&uhu_gain_mode=2+2&uhu_spec_auto=enable+enable"
    "&uhu_update_speed=2+2&uhu_temp_spread=2+2";
const char kMatrixEvent[] = "TemperatureMatrix";
// "Poll again at once" still leaves the camera this long between two polls.
constexpr std::chrono::milliseconds kShortestPollInterval{200};
const int32_t kConnectionUnknown = 10;
const int32_t kEmptyAnswer = 1;

// The measurement settings the camera takes, each written "<value>+<value>".
const std::pair<const char*, const char*> kMeasurementKeys[] = {
    {"objectEmissivity", "&uhu_tcomp_scn_emis="},
    {"atmosphericTransmission", "&uhu_tcomp_atm_trns="},
    {"ambientTemperature", "&uhu_tcomp_atm_temp="},
};

std::string bodyText(const Talvo::http::Body& body) { return std::string(body.begin(), body.end()); }

std::optional<double> answerNumber(const std::string& body, const std::string& key) {
  const auto text = answerValue(body, key);
  if (!text) return std::nullopt;
  try {
    return Talvo::Utility::stringToDouble(*text);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string numberOrNone(const std::optional<double>& value) {
  return value ? (boost::format("%1%") % *value).str() : std::string("none");
}

}  // namespace

std::optional<std::string> answerValue(const std::string& body, const std::string& key) {
  const std::string marker = key + "=";
  const size_t at = body.find(marker);
  if (at == std::string::npos) return std::nullopt;
  const size_t from = at + marker.size();
  const size_t end = body.find_first_of("\r\n", from);
  return body.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

TemperaturesDetection* TemperaturesDetection::create(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                                     const std::string& detectorId, Device* device) {
  std::shared_ptr<TemperaturesDetection> detector(new TemperaturesDetection(handler, channel, detectorId, device));
  detector->self_ = detector;
  return detector.get();
}

TemperaturesDetection::TemperaturesDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                             const std::string& detectorId, Device* device)
    : VideoAnalyticsBase(handler, detectorId, device->deviceLogger(),
                         (boost::format("va %1%, %2%") % detectorId % channel).str(), device->driverInfo()),
      device_(device),
      holder_(contract(), handler, *this, device->ioContext()),
      temperatureTimer_(device->ioContext()) {}

void TemperaturesDetection::Destroy() {
  Stop();
  std::shared_ptr<TemperaturesDetection> last;
  last.swap(self_);  // the object goes when the last step in progress lets it go
}

void TemperaturesDetection::Start() {
  auto self = shared_from_this();
  holder_.start([self] {
    self->frames_ = 0;
    self->scheduleTemperaturePoll();
    self->enableRawData();
  });
}

void TemperaturesDetection::Stop() {
  auto self = shared_from_this();
  holder_.stop([self](Holder holder) {
    boost::system::error_code ignored;
    self->temperatureTimer_.cancel(ignored);
    if (self->stream_) {
      self->stream_->stop(self->streamUser_);
      self->stream_.reset();
    }
    self->disableRawData(holder);
  });
}

bool TemperaturesDetection::get(const std::string& uri, Talvo::http::AsyncOperationPtr& operation,
                                Talvo::http::Callback callback) {
  try {
    Talvo::http::asyncGetEx(device_->connectionInfo(), uri, device_->ioContext(), 0, std::move(callback), operation,
                            logger());
    return true;
  } catch (const std::exception& e) {
    NLOG(*this, 3, " Camera connection unknown: " << e.what());
    return false;
  }
}

void TemperaturesDetection::enableRawData() {
  NUVLET_DCHECK_CALLED_ON(device_->isCalledFromConnectionThread());
  auto self = shared_from_this();
  get(kRawDataRead, rawDataRequest_,
      [self](const boost::system::error_code& error, const Talvo::http::Body& body,
             const Talvo::http::HttpResponse& response) {
        if (!self->holder_.isActive()) return;
        if (!isDeviceResponseOk(error, body, response, *self, "get rawData", "operator()")) return;
        const auto value = answerValue(bodyText(body), "uhu_raw_data");
        if (!value) {
          NLOG(*self, 3, " Cannot get value of uhu_raw_data");
          return;
        }
        if (*value == "enable") {
          NLOG(*self, 0, " Raw termal data has been already enabled on camera");
          self->startStreaming();
          return;
        }
        self->rawDataEnabled_ = true;
        self->get(kRawDataEnable, self->rawDataRequest_,
                  [self](const boost::system::error_code& error, const Talvo::http::Body& body,
                         const Talvo::http::HttpResponse& response) {
                    if (!isDeviceResponseOk(error, body, response, *self, "enable rawData", "operator()")) return;
                    NLOG(*self, 0, " Raw termal data was enabled on camera");
                    if (self->holder_.isActive()) self->startStreaming();
                  });
      });
}

void TemperaturesDetection::startStreaming() {
  if (stream_) return;
  stream_ = device_->eventStreams().get();
  std::weak_ptr<TemperaturesDetection> weak = shared_from_this();
  Holder holder = holder_;
  boost::asio::io_context& io = device_->ioContext();
  streamUser_ = stream_->start([weak, holder, &io](const Talvo::Utility::FloatMatrixPtr& matrix) {
    boost::asio::post(io, [weak, holder, matrix] {
      const auto self = weak.lock();
      if (self && holder.isActive()) self->handleMatrix(matrix);
    });
  });
}

void TemperaturesDetection::handleMatrix(const Talvo::Utility::FloatMatrixPtr& matrix) {
  NUVLET_DCHECK_CALLED_ON(device_->isCalledFromConnectionThread());
  if (++frames_ % 100 == 1) {
    float low = 100000.0f;
    float high = -100000.0f;
    for (const float value : matrix->values()) {
      low = std::min(low, value);
      high = std::max(high, value);
    }
    NLOG(*this, 0,
         " Raw termal data frame " << frames_ << ", " << Talvo::Utility::timestampToString(matrix->timeMs()) << ": "
                                   << matrix->width() << "x" << matrix->height() << " min=" << low << ", max=" << high);
  }
  eventFactory().RaisePeriodicalEvent(kMatrixEvent, matrix->timeMs(), detectorId())->set(kMatrixEvent, matrix);
}

void TemperaturesDetection::disableRawData(const Holder& holder) {
  if (!rawDataEnabled_) {
    NLOG(*this, 0, " Driver has not enabled raw termal data on camera, so skip disabling");
    holder.reportStopped();
    return;
  }
  NLOG(*this, 0, " Disable raw termal data on camera");
  rawDataEnabled_ = false;
  auto self = shared_from_this();
  Talvo::http::AsyncOperationPtr& operation = rawDataRequest_;
  try {
    Talvo::http::asyncGetEx(
        device_->connectionInfo(), kRawDataDisable, device_->ioContext(), 0,
        [self, holder](const boost::system::error_code& error, const Talvo::http::Body& body,
                       const Talvo::http::HttpResponse& response) {
          isDeviceResponseOk(error, body, response, *self, "disable rawData", "operator()");
          holder.reportStopped();
        },
        operation, logger());
  } catch (const std::exception& e) {
    NLOG(*this, 3, " Camera connection unknown: " << e.what());
    holder.reportStopped();
  }
}

void TemperaturesDetection::scheduleTemperaturePoll() {
  const int seconds = Talvo::Utility::anyOr<int>(parameters().getPersistentParam("deviceTemperatureUpdateTimeout"), 0);
  const int64_t milliseconds = std::max<int64_t>(int64_t{seconds} * 1000, kShortestPollInterval.count());
  boost::system::error_code ignored;
  temperatureTimer_.cancel(ignored);
  temperatureTimer_.expires_from_now(boost::posix_time::milliseconds(milliseconds));
  auto self = shared_from_this();
  temperatureTimer_.async_wait([self](const boost::system::error_code& error) {
    if (!error && self->holder_.isActive()) self->pollTemperatures();
  });
}

void TemperaturesDetection::pollTemperatures() {
  auto self = shared_from_this();
  const bool sent = get(kTemperaturesRead, temperatureRequest_,
                        [self](const boost::system::error_code& error, const Talvo::http::Body& body,
                               const Talvo::http::HttpResponse& response) {
                          if (!self->holder_.isActive()) return;
                          if (isDeviceResponseOk(error, body, response, *self, "get device temperatures", "operator()"))
                            self->handleTemperatures(bodyText(body));
                          self->scheduleTemperaturePoll();
                        });
  if (!sent) scheduleTemperaturePoll();  // the connection text may be mended: the chain goes on
}

void TemperaturesDetection::handleTemperatures(const std::string& body) {
  const auto tit = answerNumber(body, "TIT");
  if (!tit) return;
  // Milliseconds since 1970 in 64 bits; anything else is no camera time.
  if (!std::isfinite(*tit) || *tit < 0 || *tit * 1000 >= 18446744073709551615.0) {
    NLOG(*this, 3, " Device temperatures: TIT out of range: " << answerValue(body, "TIT").value_or(""));
    return;
  }
  const auto tin = answerNumber(body, "TIN");
  const auto tou = answerNumber(body, "TOU");
  const uint64_t timeMs = static_cast<uint64_t>(*tit * 1000);
  if (tin) eventFactory().RaisePeriodicalEvent("Level1", timeMs, "")->set("value", *tin);
  if (tou) eventFactory().RaisePeriodicalEvent("Level2", timeMs, "")->set("value", *tou);
  NLOG(*this, 0,
       " Device temperatures t=" << Talvo::Utility::timestampToString(timeMs) << " TIN=" << numberOrNone(tin)
                                 << ", TOU=" << numberOrNone(tou));
}

void TemperaturesDetection::ApplySettings(Talvo::IAsyncActionHandler* handler) {
  SimpleAdjuster::ApplySettings(handler);
  auto self = shared_from_this();
  boost::asio::post(device_->ioContext(), [self] { self->applyPendingSet(); });
}

void TemperaturesDetection::applyPendingSet() {
  Talvo::Utility::ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters().popParameters(set, handler)) return;
  parameters().updateParams(set);
  if (processBlockingConfiguration(set, handler)) return;
  auto done = Talvo::Utility::wrapAsyncActionHandler(handler, contract(), "ApplySettings", *this);
  std::string uri = kSettingsBase;
  bool any = false;
  try {
    for (const auto& key : kMeasurementKeys) {
      const auto found = set.find(key.first);
      if (found == set.end()) continue;
      const std::string value = std::to_string(boost::any_cast<int>(found->second));
      uri += key.second + value + "+" + value;
      any = true;
    }
  } catch (const boost::bad_any_cast& e) {
    NLOG(*this, 3, " Bad param type, error:" << e.what());
    done(7);
    return;
  }
  if (!any) {
    done(0);
    return;
  }
  NLOG(*this, 0, " Send parameters: " << uri);
  auto self = shared_from_this();
  const bool sent = get(uri, settingsRequest_,
                        [self, done](const boost::system::error_code& error, const Talvo::http::Body& body,
                                     const Talvo::http::HttpResponse& response) mutable {
                          if (isDeviceResponseOk(error, body, response, *self, "send settings to device", "operator()"))
                            done(0);
                          else if (response.status != 0 && !response.isSuccess())
                            done(Talvo::http::translateResponseError(response));
                          else if (error)
                            done(Talvo::Utility::translateSystemError(error));
                          else
                            done(kEmptyAnswer);
                        });
  if (!sent) done(kConnectionUnknown);
}

}  // namespace Vantrel
