// vantrel-camsim: the simulated Vantrel camera. See docs/camsim.md and --help.
#include "Announcer.h"
#include "Options.h"
#include "RtspServer.h"
#include "Server.h"

#include <exception>
#include <memory>
#include <iostream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

using namespace camsim;

namespace {

constexpr int kExitBadArguments = 2;
constexpr int kExitStartFailed = 1;

void announcePorts(const Ports& ports, std::optional<std::uint16_t> rtspPort) {
  nlohmann::ordered_json line{{"http_port", ports.http}, {"https_port", ports.https}};
  if (!ports.httpsFingerprint.empty()) line["https_fingerprint"] = ports.httpsFingerprint;
  if (rtspPort) line["rtsp_port"] = *rtspPort;
  std::cout << line.dump() << std::endl;
}

// H.264 models serve their stream over RTSP; nothing for the others.
std::unique_ptr<RtspServer> startRtsp(const ModelInfo& model, const Options& options, FaultTable& faults,
                                      RequestLog& log, std::optional<std::uint16_t>& port) {
  if (!model.h264) return nullptr;
  RtspSettings settings;
  settings.bindAddress = options.bindAddress;
  settings.port = options.rtspPort;
  settings.user = options.user;
  settings.password = options.password;
  settings.width = options.pictureWidth;
  settings.height = options.pictureHeight;
  auto server = std::make_unique<RtspServer>(settings, faults, log);
  port = server->start();
  return server;
}

int runSimulator(const Options& options) {
  const ModelInfo model = *findModel(options.model);
  const std::string size = std::to_string(options.pictureWidth) + "x" + std::to_string(options.pictureHeight);
  CameraState state(model, defaultSections(model, size, options.quality));
  RequestLog log;
  FaultTable faults;
  const PictureSource pictures(options.pictureWidth, options.pictureHeight, options.quality,
                               options.unthrottled || options.preEncoded);
  CameraApi api(state, pictures);
  SimControl control(state, log, faults);
  CameraAuth auth(options.user, options.password, options.authMode);
  const VerboseLog verbose(options.verbose);
  Recordings recordings(pictures);
  TimelineSettings timeline;
  timeline.count = options.recordings;
  recordings.configure(timeline);
  const SimContext ctx{state, log, faults, pictures, api, control, auth, verbose, options.unthrottled, recordings};

  Server server(options, ctx);
  const Ports ports = server.listen();
  std::optional<std::uint16_t> rtspPort;
  const std::unique_ptr<RtspServer> rtsp = startRtsp(model, options, faults, log, rtspPort);
  announcePorts(ports, rtspPort);
  std::optional<Announcer> announcer;
  if (options.announce) announcer.emplace(model.name, model.firmware, ports.http);
  server.run();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const OptionsParse parsed = parseOptions(argc, argv);
  if (parsed.help) {
    std::cout << *parsed.help;
    return 0;
  }
  if (!parsed.error.empty()) {
    std::cerr << "vantrel-camsim: " << parsed.error << " (see --help)" << std::endl;
    return kExitBadArguments;
  }
  try {
    return runSimulator(parsed.options);
  } catch (const std::exception& error) {
    std::cerr << "vantrel-camsim: cannot start: " << error.what() << std::endl;
    return kExitStartFailed;
  }
}
