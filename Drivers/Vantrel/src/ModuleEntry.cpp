// The module's three entry points, the only symbols it exports (version ORSEL_3.78).
// The host calls them from one thread: initModule once, getModule, finiModule at unload.
#include <memory>
#include <string>

#include <boost/system/system_error.hpp>

#include "Device.h"
#include "ModuleSettings.h"
#include "AutodetectTool.h"
#include "DeviceSearch.h"
#include "Nuvlet/include/ModuleDriver.h"
#include "host/GDRV.h"
#include "host/Nuvlet/GlobalService.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Repository.h"

namespace {

using ModuleDriver =
    Talvo::Utility::ModuleDriver<Talvo::Utility::ModuleDriverTraits<Vantrel::ModuleSettings, Vantrel::AutodetectTool,
                                                                    Vantrel::DeviceSearch, Vantrel::Device>>;

struct ModuleHolder {
  Talvo::GDRV::IModule* module = nullptr;
  std::shared_ptr<Talvo::Utility::GlobalService> service;
  std::string directory;
};

ModuleHolder& holder() {
  static ModuleHolder instance;
  return instance;
}

// The directory joined with the repository name; a "/" goes between them only when needed.
std::string repositoryPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '/' || (!name.empty() && name.front() == '/')) return directory + name;
  return directory + "/" + name;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) bool initModule(Talvo::IModuleHost* host, const char* directory) {
  auto info = std::make_shared<Talvo::GDRV::DriverInfo>();
  if (host == nullptr || directory == nullptr) return false;
  ModuleHolder& modules = holder();
  if (modules.module != nullptr) return false;
  try {
    modules.directory = directory;
    Talvo::Utility::RepoLoader loader(host->GetLogger());
    if (loader.load(repositoryPath(modules.directory, Vantrel::ModuleSettings::kRepositoryName), *info) != 0)
      return false;
    std::unique_ptr<ModuleDriver> module(new ModuleDriver(info));
    Vantrel::ModuleSettings::logger().fill(host, host->GetLogger(), Talvo::LoggerDetail::initFileLogger());
    auto service = Talvo::Utility::GlobalService::instance();
    Talvo::GDRV::IModule* earlier = modules.module;
    modules.module = module.release();
    delete earlier;
    modules.service = std::move(service);
    return true;
  } catch (const boost::system::system_error&) {
  } catch (const std::exception&) {
  }
  modules.service.reset();
  return false;
}

extern "C" __attribute__((visibility("default"))) Talvo::GDRV::IModule* getModule() { return holder().module; }

extern "C" __attribute__((visibility("default"))) void finiModule() {
  ModuleHolder& modules = holder();
  modules.service.reset();
  Talvo::GDRV::IModule* module = modules.module;
  modules.module = nullptr;
  delete module;
}
