#include "ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "ContractObject.h"
#include "ExitError.h"

namespace qrmhost {
namespace {

using InitModuleFunction = bool (*)(Talvo::IModuleHost*, const char*);
using GetModuleFunction = Talvo::GDRV::IModule* (*)();
using FiniModuleFunction = void (*)();

std::string lastDlError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

}  // namespace

void* ModuleHostObject::QueryContract(const char* typeName) {
  return answerCast<ModuleHostObject, Talvo::IModuleHost, Talvo::IContract>(this, typeName);
}

LoadedModule::LoadedModule(const std::filesystem::path& path, Talvo::IModuleHost& host)
    : path_(std::filesystem::absolute(path).lexically_normal()), directory_(path_.parent_path()) {
  // An absolute path keeps dlopen from searching the library folders for a bare file name.
  library_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library_) throw ExitError(kExitUsage, "cannot load module: " + lastDlError());

  auto initModule = reinterpret_cast<InitModuleFunction>(symbol("initModule"));
  auto getModule = reinterpret_cast<GetModuleFunction>(symbol("getModule"));
  auto finiModule = reinterpret_cast<FiniModuleFunction>(symbol("finiModule"));

  if (!initModule(&host, directory_.c_str())) {
    unload();
    throw ExitError(kExitUsage, "module " + path_.string() + " refused to start (initModule returned false)");
  }
  finiModule_ = finiModule;  // from here on the module has to be finished
  module_ = getModule();
  if (!module_) {
    unload();
    throw ExitError(kExitUsage, "module " + path_.string() + " gave no module object (getModule returned null)");
  }
}

LoadedModule::~LoadedModule() { unload(); }

void* LoadedModule::symbol(const char* name) {
  dlerror();
  void* address = dlsym(library_, name);
  if (!address) {
    const std::string reason = lastDlError();
    unload();
    throw ExitError(kExitUsage, "module " + path_.string() + " lacks the entry point " + name + ": " + reason);
  }
  return address;
}

void LoadedModule::unload() {
  if (finiModule_) finiModule_();
  finiModule_ = nullptr;
  module_ = nullptr;
  if (library_) dlclose(library_);
  library_ = nullptr;
}

std::filesystem::path defaultModulePath() {
  char exe[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length <= 0) return "Orsel.Vantrel.qrm";
  exe[length] = '\0';
  const auto prefix = std::filesystem::path(exe).parent_path() / "..";
  // The build tree keeps the module in lib/; an installed tree in lib/orsel/.
  const auto inBuildTree = (prefix / "lib" / "Orsel.Vantrel.qrm").lexically_normal();
  const auto installed = (prefix / "lib" / "orsel" / "Orsel.Vantrel.qrm").lexically_normal();
  return !std::filesystem::exists(inBuildTree) && std::filesystem::exists(installed) ? installed : inBuildTree;
}

std::filesystem::path repositoryPathOf(const std::filesystem::path& modulePath) {
  std::filesystem::path repository = modulePath;
  repository.replace_extension(".rep");
  return repository;
}

}  // namespace qrmhost
