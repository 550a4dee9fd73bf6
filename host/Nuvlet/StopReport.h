// The Stopped notification every channel sends when it has stopped. Declarations only;
// implemented in libNuvlet.
#pragma once

#include "../Contract.h"
#include "../GDRV.h"

namespace Talvo {
namespace Utility {

// Delivers Stopped(source) to `handler` on the process-wide I/O service (GlobalService), or on a
// detached thread when posting is impossible; never on the calling thread. The caller's
// references must keep `handler` valid; `source` is only passed on.
void reportStop(GDRV::IAsyncDeviceChannelHandler* handler, IContract* source);

}  // namespace Utility
}  // namespace Talvo
