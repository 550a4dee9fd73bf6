// The driver's description of the camera models it supports, filled from the model repository
// at start-up and read-only afterwards. Declarations only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Talvo {
namespace GDRV {

// A named, typed value of the repository: a model property, a channel's driver parameter or a
// setting's default.
class PropertyBase {
 public:
  explicit PropertyBase(std::string name) : name_(std::move(name)) {}
  virtual ~PropertyBase() = default;
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class PropertyInt : public PropertyBase {
 public:
  PropertyInt(std::string name, int value) : PropertyBase(std::move(name)), value(value) {}
  int value;
};

class PropertyString : public PropertyBase {
 public:
  PropertyString(std::string name, std::string value) : PropertyBase(std::move(name)), value(std::move(value)) {}
  std::string value;
};

class PropertyBool : public PropertyBase {
 public:
  PropertyBool(std::string name, bool value) : PropertyBase(std::move(name)), value(value) {}
  bool value;
};

class PropertyDouble : public PropertyBase {
 public:
  PropertyDouble(std::string name, double value) : PropertyBase(std::move(name)), value(value) {}
  double value;
};

using PropertyPtr = std::shared_ptr<PropertyBase>;
using Properties = std::vector<PropertyPtr>;

// The first property named `name`, or null.
inline const PropertyBase* findProperty(const Properties& properties, const std::string& name) {
  for (const auto& p : properties)
    if (p && p->name() == name) return p.get();
  return nullptr;
}

// The value of the integer property named `name`; `fallback` when there is none of that type.
inline int intProperty(const Properties& properties, const std::string& name, int fallback = 0) {
  const auto* property = dynamic_cast<const PropertyInt*>(findProperty(properties, name));
  return property ? property->value : fallback;
}

// One (vendor, model, firmware list) under which a model entry is known.
struct IdentityRecord {
  std::string vendor;
  std::string model;
  std::vector<std::string> firmware;
};

// Any channel: its driver parameters (fixed facts such as "isOneLens" or "panSpeed") and the
// defaults of its host-adjustable settings (such as "fps" or "volume").
struct ChannelDescription {
  Properties parameters;
  Properties settings;
};

struct StreamDescriptionRef {
  std::string description;  // key of DriverInfo::streamCodecs
  Properties settings;      // per-stream defaults, override the channel's
};

struct VideoChannelDescription : ChannelDescription {
  std::vector<StreamDescriptionRef> streams;
};

struct IODeviceDescription : ChannelDescription {
  std::string kind;  // "iodev_3x1", "iodev_ZL_232_IO_Box", ...
};

struct ModelEntry {
  std::vector<IdentityRecord> identities;
  std::vector<VideoChannelDescription> videoChannels;
  std::vector<ChannelDescription> audioSources;
  std::vector<ChannelDescription> audioDestinations;
  std::vector<IODeviceDescription> ioDevices;
  std::vector<ChannelDescription> telemetries;
  std::vector<ChannelDescription> textEventSources;  // a channel kind this driver never creates
  std::vector<std::string> detectors;                // detector identifiers, keys of DriverInfo::detectors
  Properties properties;                             // named model properties ("version", ...)
};

struct CodecDescription {
  std::string name;   // "Zelta", "MJPEG", "JPEG", "H264"
  std::string value;  // what the camera calls it in its settings
};

struct DetectorDescription {
  Properties properties;  // "detectionType", "reversedArea", ...
  Properties settings;    // defaults of the detector's settings
  // Visual elements the host may draw ("window", "polyline") -> their properties
  // ("controlArea", "sensitivity", ...).
  std::map<std::string, Properties> elements;
};

struct DriverInfo {
  std::string name;
  int number = 0;
  std::vector<ModelEntry> models;
  std::map<std::string, std::vector<std::string>> streamCodecs;  // stream description -> codec ids, in order
  std::map<std::string, CodecDescription> codecs;                // codec id -> description
  std::map<std::string, DetectorDescription> detectors;          // detector id -> description
};

// Storage and event times: milliseconds since 1970-01-01 UTC.
struct DateTimeRange {
  uint64_t begin = 0;
  uint64_t end = 0;
};

}  // namespace GDRV
}  // namespace Talvo
