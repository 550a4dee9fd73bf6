// A camera found on the network or at an address: what the device search and the autodetect
// tool report. Texts are owned by the result and valid as long as it lives.
#pragma once

#include <cstdint>
#include <string>

#include "Nuvlet/include/Contract.h"
#include "host/GDRV.h"

namespace Talvo {
namespace MMD {

class IpDeviceSearchResult : public GDRV::IIpDeviceSearchResult {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    using Utility::Path;
    return Utility::castTo<Path<IContract>, Path<GDRV::IDeviceSearchResult>, Path<GDRV::IIpDeviceSearchResult>>(
        this, typeName);
  }

  const char* GetBrand() override { return brand.c_str(); }
  const char* GetModel() override { return model.c_str(); }
  const char* GetFirmware() override { return firmware.c_str(); }
  const char* GetDriverName() override { return driverName.c_str(); }
  int32_t GetDriverNumber() override { return driverNumber; }
  const char* GetAddress() override { return address.c_str(); }
  const char* GetMacAddress() override { return macAddress.c_str(); }
  const char* GetSerial() override { return serial.c_str(); }
  int32_t GetPort() override { return port; }

  std::string brand, model, firmware, driverName;
  int32_t driverNumber = 0;
  std::string address, macAddress, serial;
  int32_t port = 0;
};

}  // namespace MMD
}  // namespace Talvo
