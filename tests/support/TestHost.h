// A small host for tests: loads the module with dlopen as a video-management host does and
// implements the host objects the module calls (module host, device handler). Header-only.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "CapturingLogger.h"
#include "host/Contract.h"
#include "host/GDRV.h"

// The module host object handed to initModule; its logger records every line.
class TestModuleHost : public TestContract<Talvo::IModuleHost, Talvo::IContract> {
 public:
  Talvo::ILogger* GetLogger() override { return &logger; }

  CapturingLogger logger;
};

// The module's three entry points, from a dlopen'ed module file.
// The module stays mapped: tests load it many times and sanitizers report better that way.
class LoadedModule {
 public:
  explicit LoadedModule(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    init = reinterpret_cast<decltype(init)>(dlsym(handle, "initModule"));
    get = reinterpret_cast<decltype(get)>(dlsym(handle, "getModule"));
    fini = reinterpret_cast<decltype(fini)>(dlsym(handle, "finiModule"));
    if (!init || !get || !fini) throw std::runtime_error("module lacks an entry point");
  }
  ~LoadedModule() {
    if (fini) fini();
  }
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  bool (*init)(Talvo::IModuleHost*, const char*) = nullptr;
  Talvo::GDRV::IModule* (*get)() = nullptr;
  void (*fini)() = nullptr;
};

// Records the connection states a device reports.
class RecordingDeviceHandler : public TestContract<Talvo::GDRV::IDeviceHandler, Talvo::IContract>, public Recorder {
 public:
  struct Report {
    Talvo::GDRV::DeviceState state;
    int code;
  };

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
    return std::count_if(reports_.begin(), reports_.end(), [&](const Report& r) { return r.state == state; });
  }
  std::vector<Report> reports_;
};
