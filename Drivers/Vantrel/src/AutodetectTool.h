// Tells which camera answers at an address: its picture's answer names the firmware ("SWV"), the
// model ("CFL") and a thermal sensor ("TSL"). A model of the thermal family is named after what
// the camera carries.
#pragma once

#include <memory>
#include <string>

#include "Nuvlet/include/Autodetect.h"

namespace Vantrel {

class AutodetectTool : public Talvo::Utility::Autodetect {
 public:
  using Autodetect::Autodetect;

  // The model name of a detected camera: a model of the thermal family becomes its name with or
  // without the sensor, any other stays as it is.
  static std::string modelForSensor(const std::string& model, bool thermalSensor);

 protected:
  // On the tool's thread. Throws system_error 103 for an unreadable address,
  // AutodetectException 769 when the camera does not name firmware and model.
  std::unique_ptr<Talvo::MMD::IpDeviceSearchResult> doAutodetect(const std::string& address) override;
  bool checkBrand(const char* brand) override;
};

}  // namespace Vantrel
