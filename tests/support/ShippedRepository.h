// The model repository the module ships, loaded as the module loads it, for tests that use the
// module's classes directly. Header-only; VANTREL_REPOSITORY comes from the test_support target.
#pragma once

#include <memory>
#include <stdexcept>

#include "host/DriverInfo.h"
#include "host/Nuvlet/Repository.h"

// Throws std::runtime_error with the loader's message when the file does not load.
inline std::shared_ptr<const Talvo::GDRV::DriverInfo> loadShippedRepository() {
  auto info = std::make_shared<Talvo::GDRV::DriverInfo>();
  Talvo::Utility::RepoLoader loader(nullptr);
  if (loader.load(VANTREL_REPOSITORY, *info) != 0) throw std::runtime_error(loader.lastError());
  return info;
}
