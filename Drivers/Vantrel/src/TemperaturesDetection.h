// Vantrel::TemperaturesDetection: the analytics channel of thermal cameras that hands the host
// whole temperature pictures and the camera's device temperatures instead of alarms. While
// started it switches the camera's thermal raw data on (section "thermal", "uhu_raw_data"),
// raises a periodical "TemperatureMatrix" event per picture of the device's shared event stream,
// and polls the device temperatures ("Level1": TIN, "Level2": TOU; never more often than every
// 200 ms). Stop switches the raw data
// off again only when this channel switched it on; Stopped follows the camera's answer.
//
// Ownership: the host owns the detector until Destroy; asynchronous steps hold a shared
// reference. Threads: Start, Stop, Destroy, SetValue and ApplySettings on host threads;
// matrices arrive on the event stream's worker and are posted to the device's thread, where
// everything else runs. The handler holder tells late steps that the channel was stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/deadline_timer.hpp>

#include "EventStream.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/EventRaiser.h"
#include "host/Nuvlet/Http.h"

namespace Vantrel {

class Device;

// The value of `key` in a camera answer: the text after the first "<key>=" up to the next CR
// or LF; none when the key is missing.
std::optional<std::string> answerValue(const std::string& body, const std::string& key);

class TemperaturesDetection : public Talvo::Utility::VideoAnalyticsBase,
                              public std::enable_shared_from_this<TemperaturesDetection> {
 public:
  // A detector that the host owns until Destroy.
  static TemperaturesDetection* create(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel,
                                       const std::string& detectorId, Device* device);

  void Destroy() override;
  void Start() override;
  void Stop() override;
  // Queues the set; it is sent on the device's thread.
  void ApplySettings(Talvo::IAsyncActionHandler* handler) override;

 private:
  using Holder = Talvo::Utility::HandlerHolderVideoAnalytic;

  TemperaturesDetection(Talvo::GDRV::IVideoAnalyticsHandler* handler, uint32_t channel, const std::string& detectorId,
                        Device* device);
  // Device's thread from here on.
  // False (logged) when the connection text cannot be read: then `callback` is never called.
  bool get(const std::string& uri, Talvo::http::AsyncOperationPtr& operation, Talvo::http::Callback callback);
  void enableRawData();
  void startStreaming();
  void handleMatrix(const Talvo::Utility::FloatMatrixPtr& matrix);
  void disableRawData(const Holder& holder);
  void scheduleTemperaturePoll();
  void pollTemperatures();
  void handleTemperatures(const std::string& body);
  void applyPendingSet();

  Device* device_;
  Holder holder_;
  std::shared_ptr<TemperaturesDetection> self_;  // the host's ownership, released by Destroy

  // Device's thread only.
  bool rawDataEnabled_ = false;  // this channel switched the raw data on
  std::shared_ptr<EventStream> stream_;
  EventStream::UserId streamUser_ = 0;
  uint64_t frames_ = 0;
  boost::asio::deadline_timer temperatureTimer_;
  Talvo::http::AsyncOperationPtr rawDataRequest_;
  Talvo::http::AsyncOperationPtr temperatureRequest_;
  Talvo::http::AsyncOperationPtr settingsRequest_;
};

}  // namespace Vantrel
