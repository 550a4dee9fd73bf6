// `ptz --index I <operation>`: one PTZ operation of telemetry channel I, and its result code.
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "Commands.h"
#include "ExitError.h"
#include "Handlers.h"
#include "Host.h"
#include "JsonLine.h"

namespace qrmhost {

namespace {

using PtzCall = std::function<int32_t(Talvo::GDRV::ITelemetry&)>;

int runPtz(Host& host, uint32_t index, const PtzCall& call) {
  auto& reporter = host.keep<DeviceReporter>(host.console());
  auto device = host.createDevice(reporter);
  ModuleObject<Talvo::GDRV::ITelemetry> telemetry(device->CreateTelemetry(index));
  if (!telemetry)
    throw ExitError(kExitUsage,
                    "the module has no telemetry channel " + std::to_string(index) + " for " + host.options().model);
  host.connect(*device);
  const int32_t code = call(*telemetry);
  telemetry.reset();
  device.reset();
  JsonObject line = kindLine("ptz");
  line["code"] = code;
  host.console().report(line);
  return cameraOutcome(code == 0);
}

// The point-click contract of a channel, or null (then the operation is not supported: 8).
int32_t withClicks(Talvo::GDRV::ITelemetry& telemetry,
                   const std::function<int32_t(Talvo::GDRV::ITelemetryPointClick&)>& call) {
  auto* clicks =
      Talvo::contract_cast<Talvo::GDRV::ITelemetryPointClick>(static_cast<Talvo::GDRV::IDeviceChannel*>(&telemetry));
  return clicks ? call(*clicks) : 8;
}

// Declares one operation: `fill` adds its arguments and returns how to call it once parsed.
void declareOperation(CLI::App& ptz, const std::shared_ptr<PtzCall>& chosen, const char* name, const char* help,
                      const std::function<PtzCall(CLI::App&)>& fill) {
  auto* operation = ptz.add_subcommand(name, help);
  PtzCall call = fill(*operation);
  operation->callback([chosen, call] { *chosen = call; });
}

}  // namespace

void declarePtz(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand("ptz",
                                     "Connects (needs --camera URL --model M) and runs one PTZ operation of telemetry\n"
                                     "channel I; prints {\"kind\":\"ptz\",\"code\":N} (0 done, 6 outside the model's\n"
                                     "limits, 8 not supported by the model, else the camera request's error).");
  auto index = std::make_shared<uint32_t>(0);
  command->add_option("--index", *index, "the telemetry channel (default 0)")->type_name("I");
  command->require_subcommand(1);
  auto call = std::make_shared<PtzCall>();

  declareOperation(
      *command, call, "move", "relative move: PAN TILT [--pan-speed S] [--tilt-speed S]", [](CLI::App& op) {
        auto v = std::make_shared<std::array<int32_t, 4>>(std::array<int32_t, 4>{0, 0, 0, 0});
        op.add_option("PAN", (*v)[0], "pan step")->required();
        op.add_option("TILT", (*v)[2], "tilt step")->required();
        op.add_option("--pan-speed", (*v)[1], "pan speed (default 0)");
        op.add_option("--tilt-speed", (*v)[3], "tilt speed (default 0)");
        return [v](Talvo::GDRV::ITelemetry& t) { return t.RelativeMove((*v)[0], (*v)[1], (*v)[2], (*v)[3]); };
      });
  declareOperation(*command, call, "zoom", "relative zoom: V [--speed S]", [](CLI::App& op) {
    auto v = std::make_shared<std::array<int32_t, 2>>(std::array<int32_t, 2>{0, 0});
    op.add_option("V", (*v)[0], "zoom step")->required();
    op.add_option("--speed", (*v)[1], "zoom speed (default 0)");
    return [v](Talvo::GDRV::ITelemetry& t) { return t.RelativeZoom((*v)[0], (*v)[1]); };
  });
  declareOperation(*command, call, "preset-go", "recalls preset N", [](CLI::App& op) {
    auto n = std::make_shared<int32_t>(0);
    op.add_option("N", *n, "preset index, from 0")->required();
    return [n](Talvo::GDRV::ITelemetry& t) { return t.GoPreset(*n); };
  });
  declareOperation(*command, call, "preset-set", "stores the current view as preset N", [](CLI::App& op) {
    auto n = std::make_shared<int32_t>(0);
    op.add_option("N", *n, "preset index, from 0")->required();
    return [n](Talvo::GDRV::ITelemetry& t) { return t.SetPreset(*n); };
  });
  declareOperation(*command, call, "point", "centres on the point X Y (0..1 of the picture)", [](CLI::App& op) {
    auto p = std::make_shared<Talvo::GDRV::Point>(Talvo::GDRV::Point{0, 0});
    op.add_option("X", p->x, "from the left")->required();
    op.add_option("Y", p->y, "from the top")->required();
    return [p](Talvo::GDRV::ITelemetry& t) {
      return withClicks(t, [p](Talvo::GDRV::ITelemetryPointClick& c) { return c.PointMove(*p); });
    };
  });
  declareOperation(*command, call, "area", "zooms to the area L T W H (0..1 of the picture)", [](CLI::App& op) {
    auto r = std::make_shared<Talvo::GDRV::Rect>(Talvo::GDRV::Rect{0, 0, 0, 0});
    op.add_option("L", r->left, "left")->required();
    op.add_option("T", r->top, "top")->required();
    op.add_option("W", r->width, "width")->required();
    op.add_option("H", r->height, "height")->required();
    return [r](Talvo::GDRV::ITelemetry& t) {
      return withClicks(t, [r](Talvo::GDRV::ITelemetryPointClick& c) { return c.AreaZoom(*r); });
    };
  });
  command->callback(
      [&chosen, index, call] { chosen = [index, call](Host& host) { return runPtz(host, *index, *call); }; });
}

}  // namespace qrmhost
