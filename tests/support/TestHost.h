// A small host for tests: loads the module with dlopen as a video-management host does and
// implements the host objects the module calls (module host, device handler). Header-only.
#pragma once

#include <dlfcn.h>

#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "CapturingLogger.h"
#include "host/Contract.h"
#include "host/GDRV.h"

// The module host object handed to initModule; its logger records every line.
class TestModuleHost : public Talvo::IModuleHost {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::IContract>(typeName) || Talvo::isContractName<Talvo::IModuleHost>(typeName))
      return static_cast<Talvo::IModuleHost*>(this);
    return nullptr;
  }
  Talvo::ILogger* GetLogger() override { return &logger; }

  CapturingLogger logger;
};

// The module's three entry points, from a dlopen'ed module file.
class LoadedModule {
 public:
  using InitFn = bool (*)(Talvo::IModuleHost*, const char*);
  using GetFn = Talvo::GDRV::IModule* (*)();
  using FiniFn = void (*)();

  explicit LoadedModule(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    init = reinterpret_cast<InitFn>(dlsym(handle_, "initModule"));
    get = reinterpret_cast<GetFn>(dlsym(handle_, "getModule"));
    fini = reinterpret_cast<FiniFn>(dlsym(handle_, "finiModule"));
    if (!init || !get || !fini) throw std::runtime_error("module lacks an entry point");
  }
  ~LoadedModule() {
    if (fini) fini();
    // The module stays mapped: tests load it many times and sanitizers report better that way.
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  InitFn init = nullptr;
  GetFn get = nullptr;
  FiniFn fini = nullptr;

 private:
  void* handle_ = nullptr;
};

// Records the connection states a device reports.
class RecordingDeviceHandler : public Talvo::GDRV::IDeviceHandler, public Recorder {
 public:
  struct Report {
    Talvo::GDRV::DeviceState state;
    int code;
  };

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::IContract>(typeName) ||
        Talvo::isContractName<Talvo::GDRV::IDeviceHandler>(typeName))
      return static_cast<Talvo::GDRV::IDeviceHandler*>(this);
    return nullptr;
  }
  void StateChanged(Talvo::IContract*, Talvo::GDRV::DeviceState state, int32_t code) override {
    record([&] { reports_.push_back({state, code}); });
  }

  std::vector<Report> reports() const { return snapshot(&RecordingDeviceHandler::reports_); }
  size_t count(Talvo::GDRV::DeviceState state) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return countLocked(state);
  }
  // True once `n` reports of `state` arrived; false when `deadline` passes first.
  bool waitFor(Talvo::GDRV::DeviceState state, size_t n, std::chrono::milliseconds deadline) const {
    return waitUntil([&] { return countLocked(state) >= n; }, deadline);
  }

 private:
  size_t countLocked(Talvo::GDRV::DeviceState state) const {
    size_t n = 0;
    for (const Report& r : reports_) n += r.state == state;
    return n;
  }
  std::vector<Report> reports_;
};
