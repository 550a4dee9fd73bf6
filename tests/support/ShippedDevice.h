// A Vantrel::Device of a model of the shipped repository, built as the module's CreateDevice
// builds it, for tests that drive the module's classes directly. Header-only; link vantrel_core.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <boost/make_shared.hpp>

#include "Device.h"
#include "Nuvlet/include/ModuleDriver.h"
#include "ShippedRepository.h"

// Throws std::runtime_error when the repository has no such model.
inline std::unique_ptr<Vantrel::Device> makeShippedDevice(const std::string& model,
                                                          Talvo::GDRV::IDeviceHandler* handler,
                                                          Talvo::ILogger* logger) {
  const auto info = loadShippedRepository();
  const auto* entry = Talvo::Utility::findModelEntry(*info, "Vantrel", model, "");
  if (!entry) throw std::runtime_error("the shipped repository has no model " + model);
  return std::make_unique<Vantrel::Device>(handler, *entry, model, "", info, boost::make_shared<Vantrel::DeviceData>(),
                                           logger);
}
