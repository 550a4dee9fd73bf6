// Finds this maker's cameras on the local network: they announce their web interface over
// DNS-SD ("_http._tcp") with a TXT record naming the model and the firmware.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Nuvlet/include/SDDeviceSearch.h"
#include "host/DriverInfo.h"

namespace Vantrel {

// The DNS-SD service type the cameras announce.
inline const std::string SERVICE = "_http._tcp";
// TXT keys of an announcement: the camera's full name ("VX-S10", "VX-S10-Sec") and firmware.
inline const char* const kFullNameKey = "net.vantrel.fullname";
inline const char* const kFirmwareKey = "net.vantrel.firmware";

class DeviceSearch : public Talvo::Utility::AsyncDeviceSearchBrowser<DeviceSearch, &SERVICE> {
 public:
  // `handler` outlives the search; `logger` may be null; `brand` names the maker in results.
  DeviceSearch(Talvo::GDRV::IDeviceSearchHandler* handler, Talvo::ILogger* logger, const char* brand,
               std::shared_ptr<const Talvo::GDRV::DriverInfo> info);

  // The model of a full-name value ("VX-" and a model code, optionally followed by "-" and a
  // variant); nothing when the value is not one of this maker's names.
  static std::optional<std::string> modelOfFullName(const std::string& fullName);

  // On the search's thread: the result for an announcement, null when it is not one of this
  // maker's cameras.
  std::unique_ptr<Talvo::MMD::IpDeviceSearchResult> makeResult(const std::string& address, int port,
                                                               const Talvo::Utility::ServiceBrowser::TxtMap& txt);

 private:
  const std::string brand_;
  const std::shared_ptr<const Talvo::GDRV::DriverInfo> info_;
};

}  // namespace Vantrel
