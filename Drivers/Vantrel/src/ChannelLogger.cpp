#include "ChannelLogger.h"

#include "Device.h"

namespace Vantrel {

Talvo::LoggerOwner channelLogger(const Device* device, const std::string& prefix) {
  const Talvo::LoggerOwner parent = device->deviceLogger();
  return Talvo::LoggerOwner(&parent, prefix);
}

}  // namespace Vantrel
