// Channel settings: defaults from the repository, the set being built, the queue of sets
// waiting for the channel's worker and the values the camera took.
#include "host/Nuvlet/Parameters.h"

namespace Talvo {
namespace Utility {

void ParametersContainer::setDefaults(const ParamsMap& defaults) {
  std::lock_guard<std::mutex> lock(mutex_);
  defaults_ = defaults;
}

boost::any ParametersContainer::getDefaultValue(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = defaults_.find(name);
  return found != defaults_.end() ? found->second : boost::any();
}

void ParametersContainer::setValue(const std::string& name, const boost::any& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  building_[name] = value;
}

bool ParametersContainer::queueChanges(IAsyncActionHandler* handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.size() >= kMaxPendingSets) {
    building_.clear();
    return false;
  }
  pending_.emplace_back(std::move(building_), handler);
  building_.clear();
  return true;
}

bool ParametersContainer::hasPending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !pending_.empty();
}

bool ParametersContainer::popParameters(ParamsMap& values, IAsyncActionHandler*& handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return false;
  values = std::move(pending_.front().first);
  handler = pending_.front().second;
  pending_.pop_front();
  return true;
}

void ParametersContainer::updateParams(const ParamsMap& values) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& value : values) stored_[value.first] = value.second;
}

boost::any ParametersContainer::getPersistentParam(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto stored = stored_.find(name);
  if (stored != stored_.end()) return stored->second;
  const auto fallback = defaults_.find(name);
  return fallback != defaults_.end() ? fallback->second : boost::any();
}

void ParametersContainer::setPersistentParam(const std::string& name, const boost::any& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  stored_[name] = value;
}

boost::any propertyToAny(const GDRV::PropertyBase& property) {
  if (const auto* p = dynamic_cast<const GDRV::PropertyInt*>(&property)) return p->value;
  if (const auto* p = dynamic_cast<const GDRV::PropertyString*>(&property)) return p->value;
  if (const auto* p = dynamic_cast<const GDRV::PropertyBool*>(&property)) return p->value;
  if (const auto* p = dynamic_cast<const GDRV::PropertyDouble*>(&property)) return p->value;
  return boost::any();
}

namespace {

// Later calls override earlier ones: channel settings first, then the stream's.
void addSettings(const GDRV::Properties& settings, ParamsMap& values) {
  for (const auto& property : settings) {
    if (!property) continue;
    boost::any value = propertyToAny(*property);
    if (!value.empty()) values[property->name()] = std::move(value);
  }
}

// The element `index` of `list`, or its last one when the model describes fewer (a generic
// model stands for cameras with more channels than it lists); null for an empty list.
template <class T>
const T* elementOrLast(const std::vector<T>& list, uint32_t index) {
  if (list.empty()) return nullptr;
  return index < list.size() ? &list[index] : &list.back();
}

void channelInitializeParams(ParametersContainer& parameters, const GDRV::ChannelDescription* channel,
                             ParamsMap& initial) {
  if (channel) addSettings(channel->settings, initial);
  parameters.setDefaults(initial);
}

// The codec description "codec" selects: by identifier, else by name; null when none.
const GDRV::CodecDescription* selectedCodec(const ParametersContainer& parameters, const GDRV::DriverInfo& info) {
  const std::string selected = anyOr<std::string>(parameters.getPersistentParam("codec"), std::string());
  if (selected.empty()) return nullptr;
  const auto byId = info.codecs.find(selected);
  if (byId != info.codecs.end()) return &byId->second;
  for (const auto& codec : info.codecs)
    if (codec.second.name == selected) return &codec.second;
  return nullptr;
}

}  // namespace

void videoSourceInitializeParams(ParametersContainer& parameters, uint32_t channel, uint32_t stream,
                                 const GDRV::ModelEntry& model, const GDRV::DriverInfo& driverInfo,
                                 ParamsMap& initial) {
  const GDRV::VideoChannelDescription* video = elementOrLast(model.videoChannels, channel);
  if (video) {
    addSettings(video->settings, initial);
    if (const GDRV::StreamDescriptionRef* ref = elementOrLast(video->streams, stream))
      addSettings(ref->settings, initial);
  }
  parameters.setDefaults(initial);
}

void audioSourceInitializeParams(ParametersContainer& parameters, uint32_t channel, const GDRV::ModelEntry& model,
                                 const GDRV::DriverInfo& driverInfo, ParamsMap& initial) {
  channelInitializeParams(parameters, elementOrLast(model.audioSources, channel), initial);
}

void audioDestinationInitializeParams(ParametersContainer& parameters, uint32_t channel, const GDRV::ModelEntry& model,
                                      const GDRV::DriverInfo& driverInfo, ParamsMap& initial) {
  channelInitializeParams(parameters, elementOrLast(model.audioDestinations, channel), initial);
}

std::string getCodecName(const ParametersContainer& parameters, const GDRV::DriverInfo& driverInfo,
                         const std::string& fallback) {
  const GDRV::CodecDescription* codec = selectedCodec(parameters, driverInfo);
  return codec ? codec->name : fallback;
}

std::string getCodecValue(const ParametersContainer& parameters, const GDRV::DriverInfo& driverInfo,
                          const std::string& fallback) {
  if (const GDRV::CodecDescription* codec = selectedCodec(parameters, driverInfo)) return codec->value;
  for (const auto& codec : driverInfo.codecs)
    if (codec.second.name == fallback) return codec.second.value;
  return std::string();
}

}  // namespace Utility
}  // namespace Talvo
