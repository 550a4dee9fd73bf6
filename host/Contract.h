// The host's root contract: every object that crosses the boundary between the host and a
// driver module is a Talvo::IContract. Declarations only; the host publishes this header.
//
// Slot order of every contract interface: (1) Cast, a wrapper that calls (2) unless a class
// overrides it; (2) QueryContract, which compares the given mangled type name as a whole string
// with those of the interfaces the object implements and returns the matching interface
// pointer or null; (3, 4) the complete and the deleting destructor; then the operations.
#pragma once

#include <cstdint>
#include <cstring>
#include <typeinfo>

namespace Talvo {

class IContract {
 public:
  virtual void* Cast(const char* typeName) = 0;
  virtual void* QueryContract(const char* typeName) = 0;
  virtual ~IContract() {}
};

// The name a contract cast compares with: the language's mangled type name of the interface.
template <class Interface>
inline const char* contractName() {
  return typeid(Interface).name();
}

// True when `typeName` is, as a whole string, the mangled name of `Interface`.
template <class Interface>
inline bool isContractName(const char* typeName) {
  return typeName != nullptr && std::strcmp(typeName, contractName<Interface>()) == 0;
}

// Asks `object` for `Interface`; null when it does not implement it.
template <class Interface>
inline Interface* contract_cast(IContract* object) {
  return object ? static_cast<Interface*>(object->Cast(contractName<Interface>())) : nullptr;
}

// An object the host ends with Destroy().
class IDestroyable : public IContract {
 public:
  virtual void Destroy() = 0;
};

// Logging. Levels: 0 debug and information, 1, 2 warning, 3 error. A message of level L is formed
// and written only when GetLevel() returns 0 or a value not above L.
class ILogger : public IContract {
 public:
  virtual int GetLevel() = 0;
  virtual void SetOption(const char* name, const char* value) = 0;
  virtual void Log(int level, const char* file, int line, const char* function, const char* message) = 0;
};

// Completion of an asynchronous action: code 0 is success.
class IAsyncActionHandler : public IContract {
 public:
  virtual void Finished(IContract* source, int code) = 0;
};

// Named settings of a channel: SetValue stores, ApplySettings sends the changed set.
class IAsyncAdjuster : public IContract {
 public:
  virtual void SetValue(const char* name, bool value) = 0;
  virtual void SetValue(const char* name, int value) = 0;
  virtual void SetValue(const char* name, double value) = 0;
  virtual void SetValue(const char* name, const char* value) = 0;
  virtual void ApplySettings(IAsyncActionHandler* handler) = 0;
};

// The host object handed to initModule. Its fifth slot gives the host's logger.
class IModuleHost : public IContract {
 public:
  virtual ILogger* GetLogger() = 0;
};

}  // namespace Talvo
