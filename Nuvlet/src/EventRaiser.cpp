// Periodical detector events with properties, and the float matrix they may carry.
#include "host/Nuvlet/EventRaiser.h"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/Analytics.h"

namespace Talvo {
namespace Utility {

void FloatMatrix::checkSize(size_t count, uint32_t width, uint32_t height) {
  if (count != static_cast<size_t>(width) * height)
    throw std::invalid_argument("float matrix: " + std::to_string(count) + " values for " + std::to_string(width) +
                                "x" + std::to_string(height));
}

std::shared_ptr<FloatMatrix> FloatMatrix::create(uint64_t timeMs, std::vector<float> values, uint32_t width,
                                                 uint32_t height) {
  checkSize(values.size(), width, height);
  return std::shared_ptr<FloatMatrix>(new FloatMatrix(timeMs, std::move(values), width, height));
}

void* FloatMatrix::QueryContract(const char* typeName) {
  return castTo<Path<IContract, Analytics::IFloatMatrix>, Path<MFF::IMultimediaBuffer, Analytics::IFloatMatrix>,
                Path<Analytics::IFloatMatrix>>(this, typeName);
}

namespace Detector {

namespace {

// The raiser's properties as the host reads them during one PeriodicalEvent call.
class PropertySet : public Analytics::IEventPropertySet {
 public:
  explicit PropertySet(const std::vector<EventRaiser::Property>& properties) : properties_(properties) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract, Analytics::IEventPropertySet>, Path<Analytics::IEventPropertySet>>(this, typeName);
  }
  uint32_t GetCount() override { return static_cast<uint32_t>(properties_.size()); }
  const char* GetName(uint32_t index) override {
    return index < properties_.size() ? properties_[index].name.c_str() : nullptr;
  }
  bool GetNumber(uint32_t index, double* value) override {
    if (index >= properties_.size() || properties_[index].matrix || !value) return false;
    *value = properties_[index].number;
    return true;
  }
  MFF::IMultimediaBuffer* GetBuffer(uint32_t index) override {
    return index < properties_.size() ? properties_[index].matrix.get() : nullptr;
  }

 private:
  const std::vector<EventRaiser::Property>& properties_;
};

}  // namespace

std::string propertiesJson(const std::vector<EventRaiser::Property>& properties) {
  nlohmann::ordered_json json = nlohmann::ordered_json::object();
  for (const auto& property : properties) {
    if (property.matrix)
      json[property.name] = {{"width", property.matrix->width()}, {"height", property.matrix->height()}};
    else
      json[property.name] = property.number;
  }
  return json.dump();
}

EventRaiser::EventRaiser(IContract* detector, GDRV::IVideoAnalyticsHandler* handler, std::string name, uint64_t timeMs,
                         std::string detectorId)
    : detector_(detector),
      handler_(handler),
      name_(std::move(name)),
      timeMs_(timeMs),
      detectorId_(std::move(detectorId)) {}

EventRaiser::~EventRaiser() {
  try {
    raise();
  } catch (...) {  // a destructor lets nothing escape; the host's handler should not throw
  }
}

EventRaiser::Property& EventRaiser::slot(const std::string& name) {
  for (auto& property : properties_)
    if (property.name == name) return property;
  properties_.push_back(Property{name, 0, nullptr});
  return properties_.back();
}

void EventRaiser::set(const std::string& name, double value) {
  Property& property = slot(name);
  property.number = value;
  property.matrix.reset();
}

void EventRaiser::set(const std::string& name, FloatMatrixPtr matrix) { slot(name).matrix = std::move(matrix); }

void EventRaiser::raise() {
  if (!handler_) return;
  if (auto* withProperties = contract_cast<Analytics::IPeriodicalEventHandler>(handler_)) {
    PropertySet set(properties_);
    withProperties->PeriodicalEvent(detector_, name_.c_str(), timeMs_, detectorId_.c_str(), &set);
    return;
  }
  handler_->Event(detector_, name_.c_str(), GDRV::EVENT_PERIODICAL, timeMs_, "", detectorId_.c_str());
  handler_->Data(detector_, name_.c_str(), timeMs_, propertiesJson(properties_).c_str());
}

std::shared_ptr<EventRaiser> EventFactory::RaisePeriodicalEvent(const std::string& name, uint64_t timeMs,
                                                                const std::string& detectorId) const {
  return std::make_shared<EventRaiser>(detector_, handler_, name, timeMs, detectorId);
}

}  // namespace Detector
}  // namespace Utility
}  // namespace Talvo
