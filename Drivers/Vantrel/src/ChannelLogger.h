// The logger of a channel of a device.
#pragma once

#include <string>

#include "host/Nuvlet/Logging.h"

namespace Vantrel {

class Device;

// The device's prefix ("[addr host:port]" once connected) followed by the channel's own
// ("vs 0.1"), so that the lines of a host with many cameras say whose they are.
Talvo::LoggerOwner channelLogger(const Device* device, const std::string& prefix);

}  // namespace Vantrel
