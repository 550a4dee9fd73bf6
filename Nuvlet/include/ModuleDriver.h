// The module object: a small factory that creates devices (and, where the maker has them, the
// autodetect tool and the network device search) from the model repository.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <boost/shared_ptr.hpp>
#include <boost/make_shared.hpp>

#include "Nuvlet/include/Contract.h"
#include "host/DriverInfo.h"
#include "host/GDRV.h"

namespace Talvo {
namespace Utility {

// Marks a feature the maker's module does not offer: its factory returns null.
struct notImplemented {};

template <class Settings, class Autodetect, class DeviceSearch, class DeviceT>
struct ModuleDriverTraits {
  using settings_type = Settings;
  using autodetect_type = Autodetect;
  using device_search_type = DeviceSearch;
  using device_type = DeviceT;
};

// The first model entry with an identity of exactly this vendor and model (and, when
// `firmware` is not empty, listing that firmware); failing that, the first entry with an
// identity of this model alone; null when neither exists.
inline const GDRV::ModelEntry* findModelEntry(const GDRV::DriverInfo& info, const std::string& vendor,
                                              const std::string& model, const std::string& firmware) {
  for (const auto& entry : info.models)
    for (const auto& identity : entry.identities) {
      if (identity.vendor != vendor || identity.model != model) continue;
      if (firmware.empty()) return &entry;
      for (const auto& listed : identity.firmware)
        if (listed == firmware) return &entry;
    }
  for (const auto& entry : info.models)
    for (const auto& identity : entry.identities)
      if (identity.model == model) return &entry;
  return nullptr;
}

template <class Traits>
class ModuleDriver : public GDRV::IModule {
 public:
  using Settings = typename Traits::settings_type;
  using DeviceT = typename Traits::device_type;
  using DeviceData = typename DeviceT::DeviceDataPtr::element_type;

  explicit ModuleDriver(std::shared_ptr<const GDRV::DriverInfo> info) : info_(std::move(info)) {}
  ~ModuleDriver() override {}

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    return castTo<Path<IContract>, Path<GDRV::IModule>>(this, typeName);
  }

  GDRV::IAutodetect* CreateAutodetect(GDRV::IAutodetectHandler* handler) override {
    using Autodetect = typename Traits::autodetect_type;
    if constexpr (std::is_same<Autodetect, notImplemented>::value) {
      return nullptr;
    } else {
      return new Autodetect(handler, info_, &Settings::logger());
    }
  }

  GDRV::IDeviceSearch* CreateDeviceSearch(GDRV::IDeviceSearchHandler* handler) override {
    using Search = typename Traits::device_search_type;
    if constexpr (std::is_same<Search, notImplemented>::value) {
      return nullptr;
    } else {
      return new Search(handler, &Settings::logger(), Settings::kVendor, info_);
    }
  }

  GDRV::IDevice* CreateDevice(GDRV::IDeviceHandler* handler, const char* vendor, const char* model,
                              const char* firmware) override {
    const std::string vendorText = vendor ? vendor : "";
    const std::string modelText = model ? model : "";
    const std::string firmwareText = firmware ? firmware : "";
    const GDRV::ModelEntry* entry = findModelEntry(*info_, vendorText, modelText, firmwareText);
    if (!entry) return nullptr;
    auto data = boost::make_shared<DeviceData>();
    return new DeviceT(handler, *entry, modelText, firmwareText, info_, data, &Settings::logger());
  }

  const std::shared_ptr<const GDRV::DriverInfo>& driverInfo() const { return info_; }

 private:
  std::shared_ptr<const GDRV::DriverInfo> info_;
};

}  // namespace Utility
}  // namespace Talvo
