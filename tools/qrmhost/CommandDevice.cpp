// `device [--seconds N]`: connect a camera and report its connection states.
#include <chrono>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"

namespace qrmhost {

int runDevice(Host& host, const CommandOptions& options) {
  const auto duration = std::chrono::duration<double>(options.seconds("seconds", 5.0));
  const CameraUrl camera = host.camera();

  auto& reporter = host.keep<DeviceReporter>(host.console());
  auto device = host.createDevice(reporter);
  host.logger().log(1, "connecting to " + camera.display() + " as " + host.options().model);
  device->Connect(host.options().camera->c_str());

  host.stopRequest().waitUntil(Clock::now() + std::chrono::duration_cast<Clock::duration>(duration));
  device.reset();  // Disconnect, then Destroy
  return kExitOk;
}

}  // namespace qrmhost
