// Helpers for classes that implement host contract interfaces.
#pragma once

#include "host/Contract.h"

namespace Talvo {
namespace Utility {

// Answers a contract cast for `self` with the first listed interface whose mangled name equals
// `typeName` (compared as whole strings); null when none does. Each entry is a pair of the
// interface and the base through which `self` reaches it, so that IContract, which several
// bases share, is reached unambiguously: castTo<Path<IContract, IVideoSource>, ...>(this, name).
template <class Interface, class Via = Interface>
struct Path {
  template <class Self>
  static void* tryCast(Self* self, const char* typeName) {
    if (!isContractName<Interface>(typeName)) return nullptr;
    return static_cast<Interface*>(static_cast<Via*>(self));
  }
};

template <class... Paths, class Self>
void* castTo(Self* self, const char* typeName) {
  void* result = nullptr;
  ((result = result ? result : Paths::tryCast(self, typeName)), ...);
  return result;
}

}  // namespace Utility
}  // namespace Talvo
