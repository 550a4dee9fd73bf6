// Named channel settings with their defaults, and the queue of setting sets waiting to be
// applied. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include <boost/any.hpp>

#include "../Contract.h"
#include "../DriverInfo.h"

namespace Talvo {
namespace Utility {

// Values are bool, int, double or std::string.
using ParamsMap = std::map<std::string, boost::any>;

// Thread-safe: the host thread sets values and queues sets, the channel's worker pops them.
class ParametersContainer {
 public:
  // Most sets that may wait; ApplySettings beyond it is answered at once with code 16 (busy).
  static constexpr size_t kMaxPendingSets = 64;

  ParametersContainer() = default;
  ParametersContainer(const ParametersContainer&) = delete;
  ParametersContainer& operator=(const ParametersContainer&) = delete;

  // Defaults, from the model entry.
  void setDefaults(const ParamsMap& defaults);
  boost::any getDefaultValue(const std::string& name) const;

  // A value for the set being built; it takes effect when the set is queued and applied.
  void setValue(const std::string& name, const boost::any& value);
  // Moves the set being built into the pending queue with its handler. False (the set is
  // dropped and nothing is queued) when kMaxPendingSets are already waiting.
  bool queueChanges(IAsyncActionHandler* handler);
  bool hasPending() const;
  // The oldest pending set; false when none is waiting.
  bool popParameters(ParamsMap& values, IAsyncActionHandler*& handler);
  // Merges applied values into the stored ones.
  void updateParams(const ParamsMap& values);

  // The stored value, else the default, else an empty any.
  boost::any getPersistentParam(const std::string& name) const;
  void setPersistentParam(const std::string& name, const boost::any& value);

 private:
  mutable std::mutex mutex_;
  ParamsMap defaults_;
  ParamsMap stored_;
  ParamsMap building_;
  std::deque<std::pair<ParamsMap, IAsyncActionHandler*>> pending_;
};

// The value as T when it holds a T; `fallback` when it is empty or of another type.
template <class T>
T anyOr(const boost::any& value, T fallback) {
  if (const T* p = boost::any_cast<T>(&value)) return *p;
  return fallback;
}

// Fills `initial` with the defaults of video channel `channel` / stream `stream` of `model`
// (the stream's settings override the channel's) and hands them to `parameters` as defaults.
void videoSourceInitializeParams(ParametersContainer& parameters, uint32_t channel, uint32_t stream,
                                 const GDRV::ModelEntry& model, const GDRV::DriverInfo& driverInfo, ParamsMap& initial);
void audioSourceInitializeParams(ParametersContainer& parameters, uint32_t channel, const GDRV::ModelEntry& model,
                                 const GDRV::DriverInfo& driverInfo, ParamsMap& initial);
void audioDestinationInitializeParams(ParametersContainer& parameters, uint32_t channel, const GDRV::ModelEntry& model,
                                      const GDRV::DriverInfo& driverInfo, ParamsMap& initial);

// Converts a repository property into the any a setting holds (bool, int, double or string).
boost::any propertyToAny(const GDRV::PropertyBase& property);

// The name ("Zelta", "MJPEG", "H264", ...) of the codec the persistent parameter "codec" selects:
// "codec" holds a codec identifier of the driver info (or directly a codec name); `fallback`
// when it is missing or unknown.
std::string getCodecName(const ParametersContainer& parameters, const GDRV::DriverInfo& driverInfo,
                         const std::string& fallback);
// The camera's value of the selected codec (CodecDescription::value), or of the codec named
// `fallback` when "codec" selects none.
std::string getCodecValue(const ParametersContainer& parameters, const GDRV::DriverInfo& driverInfo,
                          const std::string& fallback);

}  // namespace Utility
}  // namespace Talvo
