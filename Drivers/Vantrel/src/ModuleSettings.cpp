#include "ModuleSettings.h"

#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/Logging.h"

namespace Vantrel {

const char* const ModuleSettings::kVendor = "Vantrel";
const char* const ModuleSettings::kRepositoryName = "Orsel.Vantrel.rep";

ModuleSettings::LoggerHolder& ModuleSettings::logger() {
  static LoggerHolder holder;
  return holder;
}

void* ModuleSettings::LoggerHolder::Cast(const char* typeName) { return QueryContract(typeName); }

void* ModuleSettings::LoggerHolder::QueryContract(const char* typeName) {
  return Talvo::Utility::castTo<Talvo::Utility::Path<Talvo::IContract>>(this, typeName);
}

int ModuleSettings::LoggerHolder::GetLevel() { return hostLogger_ ? hostLogger_->GetLevel() : 0; }

void ModuleSettings::LoggerHolder::SetOption(const char* name, const char* value) {
  if (hostLogger_) hostLogger_->SetOption(name, value);
  if (fileLogger_) fileLogger_->SetOption(name, value);
}

void ModuleSettings::LoggerHolder::Log(int level, const char* file, int line, const char* function,
                                       const char* message) {
  if (hostLogger_) hostLogger_->Log(level, file, line, function, message);
  // The file logger keeps its own level.
  if (fileLogger_ && Talvo::levelAllows(fileLogger_->GetLevel(), level))
    fileLogger_->Log(level, file, line, function, message);
}

void ModuleSettings::LoggerHolder::fill(Talvo::IModuleHost* host, Talvo::ILogger* hostLogger,
                                        Talvo::ILogger* fileLogger) {
  host_ = host;
  hostLogger_ = hostLogger;
  fileLogger_ = fileLogger;
}

}  // namespace Vantrel
