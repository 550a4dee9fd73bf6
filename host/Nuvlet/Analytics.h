// The analytics family of the utility library: the base of every detector channel, the holder
// of the host's detector handler, the event factory, the completion wrapper of settings and the
// readers of the host's visual elements. Declarations only; implemented in libNuvlet.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "../Analytics.h"
#include "../Contract.h"
#include "../DriverInfo.h"
#include "../GDRV.h"
#include "Logging.h"
#include "SimpleAdjuster.h"

namespace Talvo {
namespace Utility {

// A host rectangle in relative coordinates (0..1, origin top left) with the properties of the
// visual element it belongs to.
struct Rectangle {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  GDRV::Properties properties;
};

// A host polyline: relative points with the properties of its visual element.
struct Polyline {
  std::vector<std::pair<double, double>> points;
  GDRV::Properties properties;
};

// Read the host's enumerator (rectangles: IRectangleValue items; polylines: one enumerator of
// IPointValue per line) into `out`, giving every entry `elementProperties`. Items of another
// kind are skipped. A null enumerator gives an empty list.
void createRectArray(Analytics::IVisualEnumerator* rectangles, const GDRV::Properties& elementProperties,
                     std::vector<Rectangle>& out);
void createPolylinesArray(Analytics::IVisualEnumerator* polylines, const GDRV::Properties& elementProperties,
                          std::vector<Polyline>& out);
// "[(x,y w h) ...]" / "[[(x,y) (x,y)] ...]": for log lines.
std::string describe(const std::vector<Rectangle>& rectangles);
std::string describe(const std::vector<Polyline>& polylines);

// The completion of one settings set: logs the result under `name` and tells the host's
// handler, naming `source`. Copyable; calling it more than once tells the handler once.
class ActionCompletion {
 public:
  ActionCompletion() = default;
  ActionCompletion(IAsyncActionHandler* handler, IContract* source, std::string name, LoggerOwner logger);
  void operator()(int code);

 private:
  IAsyncActionHandler* handler_ = nullptr;
  IContract* source_ = nullptr;
  std::string name_;
  std::shared_ptr<LoggerOwner> logger_;
  std::shared_ptr<std::atomic<bool>> done_;
};
ActionCompletion wrapAsyncActionHandler(IAsyncActionHandler* handler, IContract* source, const std::string& name,
                                        const LoggerOwner& logger);

// The host's detector handler as the detector's asynchronous steps see it. Copies share one
// state: every step captures a copy and asks isActive() before it acts, so that late answers
// after Stop do nothing. start/stop run their work on the io_context (never inside the call);
// start reports Started after its work, the work of stop reports Stopped when it is done.
// Threads: start and stop on host threads; the work and isActive on the io_context's thread.
class HandlerHolderVideoAnalytic {
 public:
  HandlerHolderVideoAnalytic(IContract* detector, GDRV::IVideoAnalyticsHandler* handler, const LoggerOwner& logger,
                             boost::asio::io_context& io);

  bool isActive() const { return state_->active.load(); }
  // Inactive -> active; posts `work` and then Started. False (nothing posted) when active already.
  bool start(std::function<void()> work);
  // Active -> inactive; posts `work` (given a copy of this holder), which ends with
  // reportStopped. False (nothing posted) when not active.
  bool stop(std::function<void(HandlerHolderVideoAnalytic)> work);
  void reportStopped() const;
  GDRV::IVideoAnalyticsHandler* handler() const { return state_->handler; }
  IContract* detector() const { return state_->detector; }

 private:
  struct State {
    State(IContract* detector, GDRV::IVideoAnalyticsHandler* handler, const LoggerOwner& logger,
          boost::asio::io_context& io)
        : detector(detector), handler(handler), logger(logger), io(io) {}
    IContract* detector;
    GDRV::IVideoAnalyticsHandler* handler;
    LoggerOwner logger;
    boost::asio::io_context& io;
    std::atomic<bool> active{false};
  };
  std::shared_ptr<State> state_;
};

namespace Detector {
class EventRaiser;
// Raises the host's detector events. Thread: any; the handler is called on the caller's thread.
class EventFactory {
 public:
  EventFactory(IContract* detector, GDRV::IVideoAnalyticsHandler* handler) : detector_(detector), handler_(handler) {}
  void RaiseTwoPhaseEvent(const std::string& name, bool begin, uint64_t timeMs, const std::string& text,
                          const std::string& detectorId) const;
  // A periodical event at `timeMs`: the caller sets its properties on the raiser and releases
  // it, which delivers the event (host/Nuvlet/EventRaiser.h).
  std::shared_ptr<EventRaiser> RaisePeriodicalEvent(const std::string& name, uint64_t timeMs,
                                                    const std::string& detectorId) const;

 private:
  IContract* detector_;
  GDRV::IVideoAnalyticsHandler* handler_;
};
}  // namespace Detector

// The base of detector channels: the IVideoAnalytics, IVisualAsyncAdjuster and IAsyncAdjuster
// faces, the detector's settings (defaults from the detector description of the repository) and
// its event factory. Subclasses supply Start, Stop, Destroy and the visual elements they accept
// (the defaults answer 5: unknown element).
class VideoAnalyticsBase : public GDRV::IVideoAnalytics,
                           public Analytics::IVisualAsyncAdjuster,
                           public SimpleAdjuster,
                           public LoggerOwner {
 public:
  VideoAnalyticsBase(GDRV::IVideoAnalyticsHandler* handler, const std::string& detectorId, const LoggerOwner& parent,
                     std::string prefix, const GDRV::DriverInfo& info);

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  int32_t SetRectangleArray(const char* element, Analytics::IVisualEnumerator* rectangles) override;
  int32_t SetMask(const char* element, const uint8_t* mask, uint32_t width, uint32_t height) override;
  int32_t SetPolylineArray(const char* element, Analytics::IVisualEnumerator* polylines) override;

  // The detector as the host knows it.
  IContract* contract() { return static_cast<GDRV::IVideoAnalytics*>(this); }
  const std::string& detectorId() const { return detectorId_; }
  // The detector description of the repository; null when the identifier is not there.
  const GDRV::DetectorDescription* description() const { return description_; }
  // The properties of the visual element `name` of this detector; null when the identifier or
  // the element is not in the repository.
  const GDRV::Properties* elementProperties(const std::string& name) const;
  const Detector::EventFactory& eventFactory() const { return events_; }
  GDRV::IVideoAnalyticsHandler* analyticsHandler() const { return handler_; }

 private:
  GDRV::IVideoAnalyticsHandler* handler_;
  std::string detectorId_;
  const GDRV::DetectorDescription* description_;
  Detector::EventFactory events_;
};

}  // namespace Utility
}  // namespace Talvo
