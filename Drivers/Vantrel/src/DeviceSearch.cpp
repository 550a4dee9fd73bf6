#include "DeviceSearch.h"

#include <boost/xpressive/xpressive_static.hpp>

#include "AutodetectTool.h"

namespace Vantrel {

namespace {

// The full name is a TXT value, at most 255 bytes from the network; the pattern is anchored
// and linear, so any bytes are safe to match.
const boost::xpressive::sregex& fullNamePattern() {
  using namespace boost::xpressive;
  // "VX-" model code, then optionally "-" variant: (VX-S10)(-Sec)?
  static const sregex pattern =
      bos >> (s1 = as_xpr("VX-") >> +(upper | digit)) >> !(as_xpr('-') >> (s2 = +alnum)) >> eos;
  return pattern;
}

}  // namespace

DeviceSearch::DeviceSearch(Talvo::GDRV::IDeviceSearchHandler* handler, Talvo::ILogger* logger, const char* brand,
                           std::shared_ptr<const Talvo::GDRV::DriverInfo> info)
    : AsyncDeviceSearchBrowser(handler, logger), brand_(brand ? brand : ""), info_(std::move(info)) {}

std::optional<std::string> DeviceSearch::modelOfFullName(const std::string& fullName) {
  boost::xpressive::smatch parts;
  if (!boost::xpressive::regex_match(fullName, parts, fullNamePattern())) return std::nullopt;
  return parts[1].matched ? parts[1].str() : std::string();
}

std::unique_ptr<Talvo::MMD::IpDeviceSearchResult> DeviceSearch::makeResult(
    const std::string& address, int port, const Talvo::Utility::ServiceBrowser::TxtMap& txt) {
  const auto fullName = txt.find(kFullNameKey);
  if (fullName == txt.end()) return nullptr;
  const std::optional<std::string> model = modelOfFullName(fullName->second);
  if (!model) return nullptr;

  auto result = std::make_unique<Talvo::MMD::IpDeviceSearchResult>();
  result->brand = brand_;
  // An announcement does not say whether a thermal sensor is fitted.
  result->model = AutodetectTool::modelForSensor(*model, false);
  result->driverName = info_->name;
  result->driverNumber = info_->number;
  result->address = address;
  result->port = port;
  const auto firmware = txt.find(kFirmwareKey);
  if (firmware != txt.end()) result->firmware = firmware->second;
  return result;
}

}  // namespace Vantrel
