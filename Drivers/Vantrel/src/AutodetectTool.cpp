#include "AutodetectTool.h"

#include <map>
#include <utility>

#include <boost/asio/io_context.hpp>

#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/Http.h"

namespace Vantrel {

namespace {

const char* const kBrand = "Vantrel";
const int kRequestTimeoutSeconds = 30;
const int kNotThisMakersCamera = 769;

struct SensorNames {
  std::string withSensor;
  std::string withoutSensor;
};

// The thermal family: one body, sold with a thermal sensor (VX-T4n) or with a second visible lens
// in its place (VX-D2n); the camera names the body.
const std::map<std::string, SensorNames>& thermalModels() {
  static const std::map<std::string, SensorNames> table = [] {
    std::map<std::string, SensorNames> built;
    for (char n = '0'; n <= '7'; ++n)
      built.emplace(std::string("VX-T4") + n, SensorNames{std::string("VX-T4") + n, std::string("VX-D2") + n});
    return built;
  }();
  return table;
}

}  // namespace

std::string AutodetectTool::modelForSensor(const std::string& model, bool thermalSensor) {
  const auto found = thermalModels().find(model);
  if (found == thermalModels().end()) return model;
  return thermalSensor ? found->second.withSensor : found->second.withoutSensor;
}

std::unique_ptr<Talvo::MMD::IpDeviceSearchResult> AutodetectTool::doAutodetect(const std::string& address) {
  Talvo::asio::ConnectionInfo info;
  try {
    info = Talvo::asio::parseConnectionInfo(address);
  } catch (const Talvo::asio::ConnectionTextError&) {
    throw boost::system::system_error(boost::system::error_code(103, boost::system::system_category()));
  }
  boost::asio::io_context io;
  boost::system::error_code error = boost::asio::error::operation_aborted;
  Talvo::http::HttpResponse answer;
  Talvo::http::AsyncOperationPtr request;
  Talvo::http::asyncGetEx(
      info, "/record/current.jpg", io, kRequestTimeoutSeconds,
      [&](const boost::system::error_code& result, const Talvo::http::Body&,
          const Talvo::http::HttpResponse& response) {
        error = result;
        answer = response;
      },
      request, logger());
  if (!runUntilDoneOrStopped(io)) throw boost::system::system_error(boost::asio::error::operation_aborted);
  if (error) throw boost::system::system_error(error);

  bool hasFirmware = false, hasModel = false, hasSensor = false;
  const std::string firmware = answer.header("SWV", &hasFirmware);
  const std::string model = answer.header("CFL", &hasModel);
  const std::string sensor = answer.header("TSL", &hasSensor);
  if (!hasFirmware || !hasModel) throw Talvo::Utility::AutodetectException("", kNotThisMakersCamera);

  auto result = std::make_unique<Talvo::MMD::IpDeviceSearchResult>();
  result->brand = kBrand;
  result->model = modelForSensor(model, hasSensor && !sensor.empty());
  result->firmware = firmware;
  result->driverName = driverInfo().name;
  result->driverNumber = driverInfo().number;
  NLOG(*this, 0, " Autodetected as " << result->model << ", " << result->firmware);
  return result;
}

bool AutodetectTool::checkBrand(const char* brand) { return brand == nullptr || std::string(brand) == kBrand; }

}  // namespace Vantrel
