// Answering contract casts for objects qrmhost hands to a module.
#pragma once

#include "host/Contract.h"

namespace qrmhost {

// The pointer to the `Interfaces...` part of `self` whose mangled name is `typeName`, or null.
// List every interface the object implements, IContract included, most derived first.
template <class Self, class First, class... Rest>
void* answerCast(Self* self, const char* typeName) {
  if (Talvo::isContractName<First>(typeName)) return static_cast<First*>(self);
  if constexpr (sizeof...(Rest) > 0) {
    return answerCast<Self, Rest...>(self, typeName);
  } else {
    return nullptr;
  }
}

}  // namespace qrmhost
