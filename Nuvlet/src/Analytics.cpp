// The analytics family: detector base, handler holder, event factory, settings completion and
// the readers of the host's visual elements.
#include "host/Nuvlet/Analytics.h"

#include <sstream>

#include <boost/asio/post.hpp>

#include "Nuvlet/include/Contract.h"

namespace Talvo {
namespace Utility {

namespace {

// Calls `each` for every item of a host enumerator, from the start.
template <class Each>
void forEachItem(GDRV::IBasicEnumerator* items, Each each) {
  if (!items) return;
  items->Reset();
  while (items->MoveNext()) {
    if (IContract* item = items->Current()) each(item);
  }
}

}  // namespace

void createRectArray(Analytics::IVisualEnumerator* rectangles, const GDRV::Properties& elementProperties,
                     std::vector<Rectangle>& out) {
  out.clear();
  forEachItem(rectangles, [&](IContract* item) {
    auto* value = contract_cast<Analytics::IRectangleValue>(item);
    if (!value) return;
    Rectangle rectangle;
    rectangle.x = value->GetLeft();
    rectangle.y = value->GetTop();
    rectangle.width = value->GetRight() - value->GetLeft();
    rectangle.height = value->GetBottom() - value->GetTop();
    rectangle.properties = elementProperties;
    out.push_back(std::move(rectangle));
  });
}

void createPolylinesArray(Analytics::IVisualEnumerator* polylines, const GDRV::Properties& elementProperties,
                          std::vector<Polyline>& out) {
  out.clear();
  forEachItem(polylines, [&](IContract* item) {
    auto* points = contract_cast<GDRV::IBasicEnumerator>(item);
    if (!points) return;
    Polyline polyline;
    polyline.properties = elementProperties;
    forEachItem(points, [&](IContract* pointItem) {
      if (auto* point = contract_cast<Analytics::IPointValue>(pointItem))
        polyline.points.emplace_back(point->GetX(), point->GetY());
    });
    out.push_back(std::move(polyline));
  });
}

std::string describe(const std::vector<Rectangle>& rectangles) {
  std::ostringstream text;
  text << "[";
  for (size_t i = 0; i < rectangles.size(); ++i) {
    const Rectangle& r = rectangles[i];
    text << (i ? " " : "") << "(" << r.x << "," << r.y << " " << r.width << " " << r.height << ")";
  }
  text << "]";
  return text.str();
}

std::string describe(const std::vector<Polyline>& polylines) {
  std::ostringstream text;
  text << "[";
  for (size_t i = 0; i < polylines.size(); ++i) {
    text << (i ? " " : "") << "[";
    const auto& points = polylines[i].points;
    for (size_t j = 0; j < points.size(); ++j)
      text << (j ? " " : "") << "(" << points[j].first << "," << points[j].second << ")";
    text << "]";
  }
  text << "]";
  return text.str();
}

ActionCompletion::ActionCompletion(IAsyncActionHandler* handler, IContract* source, std::string name,
                                   LoggerOwner logger)
    : handler_(handler),
      source_(source),
      name_(std::move(name)),
      logger_(std::make_shared<LoggerOwner>(std::move(logger))),
      done_(std::make_shared<std::atomic<bool>>(false)) {}

void ActionCompletion::operator()(int code) {
  if (!done_ || done_->exchange(true)) return;
  NLOG(*logger_, code == 0 ? 0 : 2, " " << name_ << " finished with result " << code);
  if (handler_) handler_->Finished(source_, code);
}

ActionCompletion wrapAsyncActionHandler(IAsyncActionHandler* handler, IContract* source, const std::string& name,
                                        const LoggerOwner& logger) {
  return ActionCompletion(handler, source, name, logger);
}

HandlerHolderVideoAnalytic::HandlerHolderVideoAnalytic(IContract* detector, GDRV::IVideoAnalyticsHandler* handler,
                                                       const LoggerOwner& logger, boost::asio::io_context& io)
    : state_(std::make_shared<State>(detector, handler, logger, io)) {}

bool HandlerHolderVideoAnalytic::start(std::function<void()> work) {
  bool expected = false;
  if (!state_->active.compare_exchange_strong(expected, true)) return false;
  boost::asio::post(state_->io, [state = state_, work = std::move(work)] {
    if (work) work();
    if (state->handler) state->handler->Started(state->detector);
  });
  return true;
}

bool HandlerHolderVideoAnalytic::stop(std::function<void(HandlerHolderVideoAnalytic)> work) {
  bool expected = true;
  if (!state_->active.compare_exchange_strong(expected, false)) return false;
  boost::asio::post(state_->io, [holder = *this, work = std::move(work)] {
    if (work)
      work(holder);
    else
      holder.reportStopped();
  });
  return true;
}

void HandlerHolderVideoAnalytic::reportStopped() const {
  if (state_->handler) state_->handler->Stopped(state_->detector);
}

namespace Detector {
void EventFactory::RaiseTwoPhaseEvent(const std::string& name, bool begin, uint64_t timeMs, const std::string& text,
                                      const std::string& detectorId) const {
  if (!handler_) return;
  handler_->Event(detector_, name.c_str(), begin ? GDRV::EVENT_BEGIN : GDRV::EVENT_END, timeMs, text.c_str(),
                  detectorId.c_str());
}
}  // namespace Detector

namespace {
const GDRV::DetectorDescription* findDescription(const GDRV::DriverInfo& info, const std::string& id) {
  const auto found = info.detectors.find(id);
  return found == info.detectors.end() ? nullptr : &found->second;
}
}  // namespace

VideoAnalyticsBase::VideoAnalyticsBase(GDRV::IVideoAnalyticsHandler* handler, const std::string& detectorId,
                                       const LoggerOwner& parent, std::string prefix, const GDRV::DriverInfo& info)
    : SimpleAdjuster(static_cast<GDRV::IVideoAnalytics*>(this)),
      LoggerOwner(&parent, std::move(prefix)),
      handler_(handler),
      detectorId_(detectorId),
      description_(findDescription(info, detectorId)),
      events_(static_cast<GDRV::IVideoAnalytics*>(this), handler) {
  if (!description_) return;
  ParamsMap defaults;
  for (const auto& property : description_->settings)
    if (property) defaults[property->name()] = propertyToAny(*property);
  parameters_.setDefaults(defaults);
}

void* VideoAnalyticsBase::QueryContract(const char* typeName) {
  return castTo<Path<IContract, GDRV::IVideoAnalytics>, Path<GDRV::IVideoAnalytics>,
                Path<Analytics::IVisualAsyncAdjuster>, Path<IAsyncAdjuster>>(this, typeName);
}

int32_t VideoAnalyticsBase::SetRectangleArray(const char*, Analytics::IVisualEnumerator*) { return 5; }
int32_t VideoAnalyticsBase::SetMask(const char*, const uint8_t*, uint32_t, uint32_t) { return 5; }
int32_t VideoAnalyticsBase::SetPolylineArray(const char*, Analytics::IVisualEnumerator*) { return 5; }

const GDRV::Properties* VideoAnalyticsBase::elementProperties(const std::string& name) const {
  if (!description_) return nullptr;
  const auto found = description_->elements.find(name);
  return found == description_->elements.end() ? nullptr : &found->second;
}

}  // namespace Utility
}  // namespace Talvo
