#include "Host.h"

#include "ExitError.h"

namespace qrmhost {

Host::Host(const GlobalOptions& options, Console& console, StopRequest& stop)
    : options_(options), console_(console), stop_(stop), logger_(console, options.logLevel), moduleHost_(logger_) {}

Host::~Host() {
  module_.reset();
  // Reverse order: a handler may use what was kept before it (a tally, a picture saver).
  while (!kept_.empty()) kept_.pop_back();
  if (frameFactory_.liveBuffers() != 0)
    console_.message("qrmhost: " + std::to_string(frameFactory_.liveBuffers()) +
                     " frame buffers were never destroyed by the module");
}

LoadedModule& Host::module() {
  if (!module_) {
    const auto path = options_.modulePath.empty() ? defaultModulePath() : options_.modulePath;
    logger_.log(1, "loading module " + path.string());
    module_ = std::make_unique<LoadedModule>(path, moduleHost_);
  }
  return *module_;
}

Talvo::asio::ConnectionInfo Host::camera() const {
  if (!options_.camera) throw usageError("this command needs --camera URL");
  try {
    return Talvo::asio::parseConnectionInfo(*options_.camera);
  } catch (const Talvo::asio::ConnectionTextError& error) {
    // The parser's text names the fault, never the text itself: it may hold the password.
    throw usageError(std::string("--camera: ") + error.what() + "; http(s)://user:password@host:port/ expected");
  }
}

ModuleObject<Talvo::GDRV::IDevice> Host::createDevice(Talvo::GDRV::IDeviceHandler& handler) {
  if (options_.model.empty()) throw usageError("this command needs --model M");
  return createDevice(handler, options_.vendor, options_.model, options_.firmware);
}

ModuleObject<Talvo::GDRV::IDevice> Host::createDevice(Talvo::GDRV::IDeviceHandler& handler, const std::string& vendor,
                                                      const std::string& model, const std::string& firmware) {
  auto& module = this->module().module();
  ModuleObject<Talvo::GDRV::IDevice> device(
      module.CreateDevice(&handler, vendor.c_str(), model.c_str(), firmware.c_str()));
  if (!device)
    throw ExitError(kExitUsage, "unknown model " + model + " (vendor " + vendor + ", firmware '" + firmware + "')");
  return device;
}

}  // namespace qrmhost
