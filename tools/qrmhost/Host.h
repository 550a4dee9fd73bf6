// Everything one qrmhost run shares: the options, the two output streams, the logger, the
// frame factory, the loaded module and the handler objects the module may still call.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Arguments.h"
#include "host/Nuvlet/Connection.h"
#include "Console.h"
#include "FrameFactory.h"
#include "HostLogger.h"
#include "ModuleLoader.h"
#include "StopControl.h"
#include "host/GDRV.h"

namespace qrmhost {

// Ends a module object (device or channel) with its Destroy(); a device is disconnected first,
// as a host does when it lets a camera go. Main thread only.
struct ModuleObjectDestroyer {
  template <class Object>
  void operator()(Object* object) const {
    if (!object) return;
    if constexpr (std::is_same_v<Object, Talvo::GDRV::IDevice>) object->Disconnect();
    object->Destroy();
  }
};
template <class Object>
using ModuleObject = std::unique_ptr<Object, ModuleObjectDestroyer>;

// The names of `known` within one edit of `model`, case ignored (a mis-cased name is one).
std::vector<std::string> closeModelNames(const std::string& model, const std::vector<std::string>& known);

// Lives on main()'s stack for the whole run; commands get it by reference on the main thread.
// Members are declared so that destruction runs: the identity check, the module (finiModule,
// dlclose), then the handlers it might have called until then, then factory, logger and console.
class Host {
 public:
  Host(const GlobalOptions& options, Console& console, StopRequest& stop);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  const GlobalOptions& options() const { return options_; }
  Console& console() { return console_; }
  HostLogger& logger() { return logger_; }
  FrameFactory& frameFactory() { return frameFactory_; }
  StopRequest& stopRequest() { return stop_; }

  // Loads the module on first use; throws ExitError (status 2) when it will not load.
  LoadedModule& module();

  // Makes a handler (or anything a handler uses) that lives until the module is unloaded, so
  // that a late call from a module thread cannot reach a destroyed object. Main thread only.
  template <class Kept, class... Arguments>
  Kept& keep(Arguments&&... arguments) {
    auto kept = std::make_shared<Kept>(std::forward<Arguments>(arguments)...);
    kept_.push_back(kept);
    return *kept;
  }

  // --camera checked and read; throws a usage error when missing or malformed.
  Talvo::asio::ConnectionInfo camera() const;
  // CreateDevice for --vendor/--model/--firmware; throws ExitError (status 2) for an unknown model.
  ModuleObject<Talvo::GDRV::IDevice> createDevice(Talvo::GDRV::IDeviceHandler& handler);
  // Connects `device` to --camera; the first time also asks the camera which model it is, and
  // warns once when it names another than --model.
  void connect(Talvo::GDRV::IDevice& device);
  // "; did you mean A, B?" (names within one edit, case ignored), or a pointer to `models`.
  std::string closeMatchesText(const std::string& model);

  // CreateDevice for the model named; the same errors.
  ModuleObject<Talvo::GDRV::IDevice> createDevice(Talvo::GDRV::IDeviceHandler& handler, const std::string& vendor,
                                                  const std::string& model, const std::string& firmware);

 private:
  std::vector<std::string> modelNames();

  const GlobalOptions options_;
  Console& console_;
  StopRequest& stop_;
  HostLogger logger_;
  ModuleHostObject moduleHost_;
  FrameFactory frameFactory_;
  std::vector<std::shared_ptr<void>> kept_;  // ended in reverse order of making
  std::unique_ptr<LoadedModule> module_;     // unloaded after the identity check ended
  // The module's autodetect tool asking the --camera which model it is; stopped and destroyed first.
  struct AutodetectEnd {
    void operator()(Talvo::GDRV::IAutodetect* tool) const;
  };
  std::unique_ptr<Talvo::GDRV::IAutodetect, AutodetectEnd> identityCheck_;
};

}  // namespace qrmhost
