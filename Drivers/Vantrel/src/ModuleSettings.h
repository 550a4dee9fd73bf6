// Module-wide settings: the maker's name, the repository file and the module's logger.
#pragma once

#include "host/Contract.h"

namespace Vantrel {

struct ModuleSettings {
  static const char* const kVendor;          // "Vantrel"
  static const char* const kRepositoryName;  // "Orsel.Vantrel.rep"

  // The module's logger: forwards every call to the host's logger and to the utility library's
  // file logger. One static instance; filled at initModule and never emptied, so objects
  // created later may keep a pointer to it.
  class LoggerHolder : public Talvo::ILogger {
   public:
    void* Cast(const char* typeName) override;
    void* QueryContract(const char* typeName) override;
    ~LoggerHolder() override {}

    // The host's level, or 0 when there is no host logger.
    int GetLevel() override;
    void SetOption(const char* name, const char* value) override;
    void Log(int level, const char* file, int line, const char* function, const char* message) override;

    // initModule: the host object, the host's logger and the file logger.
    void fill(Talvo::IModuleHost* host, Talvo::ILogger* hostLogger, Talvo::ILogger* fileLogger);

   private:
    Talvo::IModuleHost* host_ = nullptr;
    Talvo::ILogger* hostLogger_ = nullptr;
    Talvo::ILogger* fileLogger_ = nullptr;
  };

  static LoggerHolder& logger();
};

}  // namespace Vantrel
