// Loading a driver module the way a video-management host does.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "host/Contract.h"
#include "host/GDRV.h"

namespace qrmhost {

// The host object handed to initModule; it only gives out the logger. Outlives the module.
class ModuleHostObject : public Talvo::IModuleHost {
 public:
  explicit ModuleHostObject(Talvo::ILogger& logger) : logger_(logger) {}
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;
  Talvo::ILogger* GetLogger() override { return &logger_; }

 private:
  Talvo::ILogger& logger_;
};

// A loaded and initialised module: dlopen(RTLD_NOW | RTLD_LOCAL), initModule(host, directory),
// getModule(); the destructor calls finiModule() and dlclose(). Main thread only.
class LoadedModule {
 public:
  // Throws ExitError (status 2) with the reason when the module cannot be used.
  LoadedModule(const std::filesystem::path& path, Talvo::IModuleHost& host);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  Talvo::GDRV::IModule& module() { return *module_; }
  const std::filesystem::path& path() const { return path_; }
  // The folder handed to initModule: absolute, without a trailing slash.
  const std::filesystem::path& directory() const { return directory_; }

 private:
  void* symbol(const char* name);
  void unload();

  std::filesystem::path path_;
  std::filesystem::path directory_;
  void* library_ = nullptr;
  void (*finiModule_)() = nullptr;
  Talvo::GDRV::IModule* module_ = nullptr;
};

// Where the module is looked for without --module: ../lib/Orsel.Vantrel.qrm next to this program,
// else ../lib/orsel/Orsel.Vantrel.qrm when only that exists.
std::filesystem::path defaultModulePath();

// The repository file of a module: the same name with ".rep" in place of ".qrm".
std::filesystem::path repositoryPathOf(const std::filesystem::path& modulePath);

}  // namespace qrmhost
