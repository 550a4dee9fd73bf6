// `serve`: the fleet of `fleet` behind an HTTP server: a console page for people, a JSON API for
// scripts, live pictures, events and Prometheus metrics. Health lines go to stdout as in `fleet`.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

#include <boost/asio/ip/address.hpp>

#include "Commands.h"
#include "ConsoleServer.h"
#include "ExitError.h"
#include "FleetRun.h"
#include "Host.h"
#include "JpegTables.h"
#include "KeyPicture.h"
#include "ServedDevices.h"

namespace qrmhost {
namespace {

// How long a POST waits for an output's answer, and the I/O channels and detectors for Stopped.
constexpr auto kAnswerDeadline = std::chrono::seconds(10);
constexpr auto kStopDeadline = std::chrono::seconds(5);
// H.264 channels show a key picture at most this often.
constexpr auto kKeyPictureEvery = std::chrono::seconds(1);

struct ServeOptions {
  FleetOptions fleet;
  std::string listen = "127.0.0.1:8080";
  std::string tokenFile;
};

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

uint64_t millisecondsSince1970() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// One served channel: its health (the fleet's), its pictures and what it last told.
struct ServedChannel {
  ServedChannel(std::string id, size_t camera, ChannelHealth& health) : id(std::move(id)), camera(camera), health(health) {}

  const std::string id;  // "camera index-channel-stream"
  const size_t camera;   // its camera's index
  ChannelHealth& health;
  Broadcast pictures{2, 32};
  std::atomic<uint64_t> events{0};
  std::atomic<uint64_t> otherPictures{0};  // pictures a browser cannot show
  std::mutex mutex;
  JsonObject lastEvent;                    // guarded by mutex
  std::string zeltaTables;                 // of the last Zelta key picture; guarded by mutex
  std::optional<Clock::time_point> lastKeyPicture;  // H.264: the last one decoded; ServedFleet::jobsMutex_
  ChannelHealth::State lastState = ChannelHealth::State::Stopped;  // the health's lock guards it
};

// "a\"b" as a Prometheus label value.
std::string labelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

// host:port of --listen; the port may be 0 (a free one).
std::pair<std::string, unsigned short> listenAddress(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) throw usageError("--listen: ADDRESS:PORT expected, not " + text);
  std::string address = text.substr(0, colon);
  if (address.size() > 2 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit) || std::stoi(port) > 65535)
    throw usageError("--listen: the port must be a number from 0 to 65535, not '" + port + "'");
  boost::system::error_code error;
  boost::asio::ip::make_address(address, error);
  if (error) throw usageError("--listen: " + address + " is not an IP address");
  return {address, static_cast<unsigned short>(std::stoi(port))};
}

// The token of --token-file: its first line, at least 16 characters, no blanks.
std::string readToken(const std::string& file) {
  std::ifstream in(file);
  std::string token;
  if (!in || !std::getline(in, token)) throw usageError("--token-file " + file + ": cannot be read");
  while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
  if (token.size() < 16) throw usageError("--token-file " + file + ": the token needs at least 16 characters");
  if (std::any_of(token.begin(), token.end(), [](unsigned char c) { return c <= ' ' || c == ';' || c >= 0x7f; }))
    throw usageError("--token-file " + file + ": the token may hold printable characters only, no blank or ';'");
  return token;
}

class ServedFleet : public ServeContent, public FleetExtension {
 public:
  ServedFleet(Host& host, const ServeOptions& options) : host_(host) {
    const auto [address, port] = listenAddress(options.listen);
    std::string token;
    if (!options.tokenFile.empty()) token = readToken(options.tokenFile);
    if (token.empty() && !boost::asio::ip::make_address(address).is_loopback())
      throw usageError("--listen " + options.listen + " is reachable from other machines: give a --token-file");
    server_ = std::make_unique<ConsoleServer>(*this, address, port, token);
  }
  ~ServedFleet() override { endPictureJobs(); }

  // FleetExtension (main thread).
  void prepared(const std::vector<FleetCamera>& cameras, const std::vector<Talvo::GDRV::IDevice*>& devices,
                const std::vector<std::vector<ChannelHealth*>>& channels) override {
    cameras_ = &cameras;
    for (size_t camera = 0; camera < cameras.size(); ++camera)
      for (const uint32_t index : cameras[camera].telemetry) {
        ModuleObject<Talvo::GDRV::ITelemetry> telemetry(devices[camera]->CreateTelemetry(index));
        if (!telemetry)
          throw usageError(cameras[camera].name + ": the module has no telemetry channel " + std::to_string(index) +
                           " for " + cameras[camera].model);
        telemetries_.push_back({camera, index, std::move(telemetry)});
      }
    const EventSink sink = [this](JsonObject event) { publishEvent(std::move(event)); };
    for (size_t camera = 0; camera < cameras.size(); ++camera) {
      const auto& entry = cameras[camera];
      for (const uint32_t index : entry.io) {
        auto& handler = host_.keep<ServedIO>(entry.name, camera, index, sink);
        ModuleObject<Talvo::GDRV::IIODevice> io(devices[camera]->CreateIODevice(&handler, index));
        if (!io)
          throw usageError(entry.name + ": the module has no I/O channel " + std::to_string(index) + " for " + entry.model);
        ios_.push_back({&handler, std::move(io)});
      }
      for (const auto& wanted : entry.thermal) {
        auto& handler = host_.keep<ServedThermal>(
            entry.name, camera, wanted.channel, wanted.detector, sink,
            [this](const void* who, std::function<void()> job) { queuePictureJob(who, std::move(job)); });
        thermals_.push_back({&handler, createDetector(*devices[camera], handler, wanted, entry)});
      }
      for (const auto& wanted : entry.detectors) {
        auto& handler = host_.keep<ServedDetector>(entry.name, camera, wanted.channel, wanted.detector, sink);
        detectors_.push_back({&handler, createDetector(*devices[camera], handler, wanted, entry)});
      }
    }
    for (size_t camera = 0; camera < channels.size(); ++camera)
      for (auto* health : channels[camera]) {
        const auto& channel = health->channel();
        const std::string id =
            std::to_string(camera) + "-" + std::to_string(channel.channel) + "-" + std::to_string(channel.stream);
        auto& served = *channels_.emplace_back(std::make_unique<ServedChannel>(id, camera, *health));
        health->setTaps({[this, &served](const char* codec, bool key, const uint8_t* bytes, size_t size) {
                           takePicture(served, codec, key, bytes, size);
                         },
                         [this, &served](ChannelHealth::State state, int32_t code) { stateChanged(served, state, code); }});
      }
    jobsThread_ = std::thread([this] { runPictureJobs(); });
    server_->start();
    auto line = kindLine("listening");
    line["url"] = server_->url();
    host_.console().report(line);
  }

  void started() override {
    for (auto& io : ios_) io.object->Start();
    for (auto& detector : detectors_) detector.object->Start();
    for (auto& thermal : thermals_) thermal.object->Start();
  }

  void stopping() override {
    for (auto& io : ios_) io.object->Stop();
    for (auto& detector : detectors_) detector.object->Stop();
    for (auto& thermal : thermals_) thermal.object->Stop();
  }

  void finishing() override {
    const auto deadline = Clock::now() + kStopDeadline;
    std::vector<ServedChannelState*> others;
    for (auto& io : ios_) others.push_back(io.handler);
    for (auto& detector : detectors_) others.push_back(detector.handler);
    for (auto& thermal : thermals_) others.push_back(thermal.handler);
    for (auto* other : others)
      if (!other->waitStopped(deadline))
        host_.console().message("qrmhost: " + other->id() + " did not report Stopped within 5 s");
    endPictureJobs();
    for (auto& channel : channels_) channel->pictures.close();
    for (auto& thermal : thermals_) thermal.handler->heatMaps().close();
    events_.close();
    server_.reset();  // no PTZ or output call runs after it
    // Before the devices.
    telemetries_.clear();
    ios_.clear();
    detectors_.clear();
    thermals_.clear();
  }

  // ServeContent (the server's thread).
  std::string channelsJson() override {
    auto list = JsonObject::array();
    const auto now = Clock::now();
    for (auto& channel : channels_) {
      JsonObject entry{{"id", channel->id},
                       {"camera", channel->health.camera()},
                       {"kind", "video"},
                       {"camera_index", channel->camera},
                       {"telemetry", (*cameras_)[channel->camera].telemetry}};
      const auto health = channel->health.healthLine(now, false);
      for (const auto& [key, value] : health.items())
        if (key != "kind" && key != "camera") entry[key] = value;
      entry["jpeg"] = pictureRefusal(*channel).empty();
      entry["viewers"] = channel->pictures.listeners();
      entry["viewer_dropped_pictures"] = channel->pictures.dropped();
      {
        std::lock_guard<std::mutex> lock(channel->mutex);
        entry["last_event"] = channel->lastEvent.is_null() ? JsonObject() : channel->lastEvent;
      }
      list.push_back(withReadableFields(entry));
    }
    for (const auto& telemetry : telemetries_)
      list.push_back(JsonObject{{"id", "telemetry-" + std::to_string(telemetry.camera) + "-" +
                                           std::to_string(telemetry.index)},
                                {"camera", (*cameras_)[telemetry.camera].name},
                                {"kind", "telemetry"},
                                {"camera_index", telemetry.camera},
                                {"telemetry", telemetry.index}});
    for (auto& io : ios_) list.push_back(io.handler->entry());
    for (auto& detector : detectors_) list.push_back(detector.handler->entry());
    for (auto& thermal : thermals_) list.push_back(thermal.handler->entry());
    return lineText(list) + "\n";
  }

  std::string metricsText() override;

  std::optional<Pictures> pictures(const std::string& id) override {
    for (auto& channel : channels_)
      if (channel->id == id) return Pictures{&channel->pictures, pictureRefusal(*channel)};
    for (auto& thermal : thermals_)
      if (thermal.handler->id() == id) return Pictures{&thermal.handler->heatMaps(), ""};
    return std::nullopt;
  }

  Broadcast& events() override { return events_; }

  // POST /api/cameras/{index}/ptz and /outputs (the server's worker thread).
  Outcome post(const std::string& path, const std::string& body) override {
    static const std::regex cameraPath("/api/cameras/([0-9]{1,6})/(ptz|outputs)");
    std::smatch match;
    if (!std::regex_match(path, match, cameraPath)) return outcome(404, "no such path");
    const size_t camera = std::stoul(match[1]);
    if (camera >= cameras_->size()) return outcome(404, "no camera " + match[1].str());
    bool tooDeep = false;
    const auto request = JsonObject::parse(
        body,
        [&tooDeep](int depth, JsonObject::parse_event_t, JsonObject&) {
          tooDeep = tooDeep || depth > 3;
          return !tooDeep;
        },
        false);
    if (tooDeep || !request.is_object()) return outcome(400, "the body must be a JSON object");
    return match[2] == "ptz" ? ptz(camera, request) : switchOutput(camera, request);
  }

 private:
  static std::string pictureRefusal(ServedChannel& channel) {
    if (channel.otherPictures.load() > 0 && channel.pictures.published() == 0)
      return "channel " + channel.id + " sends no JPEG pictures";
    return "";
  }

  // The module's thread. JPEG pictures go out as they are; Zelta delta pictures get the tables of
  // the last key picture, so that each one shows on its own; an H.264 key picture goes to the
  // decoding thread at most once a second; other pictures are only counted.
  void takePicture(ServedChannel& channel, const char* codec, bool key, const uint8_t* bytes, size_t size) {
    const std::string kind = lowerCase(codec);
    std::optional<std::string> picture;
    if (kind == "h264") {
      if (key) offerKeyPicture(channel, bytes, size);
      return;
    }
    if (kind == "mjpeg" || kind == "jpeg") {
      picture.emplace(reinterpret_cast<const char*>(bytes), size);
    } else if (kind == "zelta") {
      std::lock_guard<std::mutex> lock(channel.mutex);
      if (key) {
        if (auto tables = jpegTables(bytes, size)) channel.zeltaTables = std::move(*tables);
        picture.emplace(reinterpret_cast<const char*>(bytes), size);
      } else if (!channel.zeltaTables.empty()) {
        picture = withJpegTables(bytes, size, channel.zeltaTables);
      }
    }
    if (!picture) {
      ++channel.otherPictures;
      return;
    }
    channel.pictures.publish(std::make_shared<const std::string>(std::move(*picture)));
  }

  void offerKeyPicture(ServedChannel& channel, const uint8_t* bytes, size_t size) {
    const auto now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(jobsMutex_);
      if (channel.lastKeyPicture && now - *channel.lastKeyPicture < kKeyPictureEvery) return;
      channel.lastKeyPicture = now;
    }
    auto h264 = std::make_shared<const std::string>(reinterpret_cast<const char*>(bytes), size);
    queuePictureJob(&channel, [&channel, h264] {
      auto jpeg = jpegOfH264KeyPicture(reinterpret_cast<const uint8_t*>(h264->data()), h264->size());
      if (jpeg)
        channel.pictures.publish(std::make_shared<const std::string>(std::move(*jpeg)));
      else
        ++channel.otherPictures;
    });
  }

  // Any thread: `job` makes a picture of `who` on the picture thread; it replaces a job of the same
  // `who` still waiting (only the latest picture matters).
  void queuePictureJob(const void* who, std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(jobsMutex_);
      if (jobsEnd_) return;
      pictureJobs_[who] = std::move(job);
    }
    jobsChanged_.notify_one();
  }

  // The picture thread: H.264 key pictures decoded, heat maps drawn (milliseconds each, which the
  // module's threads must not wait for).
  void runPictureJobs() {
    std::unique_lock<std::mutex> lock(jobsMutex_);
    for (;;) {
      jobsChanged_.wait(lock, [this] { return jobsEnd_ || !pictureJobs_.empty(); });
      if (jobsEnd_) return;
      auto job = std::move(pictureJobs_.begin()->second);
      pictureJobs_.erase(pictureJobs_.begin());
      lock.unlock();
      job();
      lock.lock();
    }
  }

  void endPictureJobs() {
    {
      std::lock_guard<std::mutex> lock(jobsMutex_);
      jobsEnd_ = true;
      pictureJobs_.clear();
    }
    jobsChanged_.notify_one();
    if (jobsThread_.joinable()) jobsThread_.join();
  }

  // With the channel's health lock held (see ChannelHealth::Taps).
  void stateChanged(ServedChannel& channel, ChannelHealth::State state, int32_t code) {
    const bool recovered = state == ChannelHealth::State::Streaming && channel.lastState == ChannelHealth::State::Failed;
    channel.lastState = state;
    auto event = kindLine(recovered ? "recovered" : ChannelHealth::stateName(state));
    event["id"] = channel.id;
    event["camera"] = channel.health.camera();
    event["channel"] = channel.health.channel().channel;
    event["stream"] = channel.health.channel().stream;
    event["time"] = millisecondsSince1970();
    if (state == ChannelHealth::State::Failed) event["code"] = code;
    event = withReadableFields(event);
    ++channel.events;
    {
      std::lock_guard<std::mutex> lock(channel.mutex);
      channel.lastEvent = event;
    }
    events_.publish(std::make_shared<const std::string>("data: " + lineText(event) + "\n\n"));
  }

  // The detector `wanted` of `entry` reporting to `handler`; a usage error when the model has none.
  static ModuleObject<Talvo::GDRV::IVideoAnalytics> createDetector(Talvo::GDRV::IDevice& device,
                                                                   Talvo::GDRV::IVideoAnalyticsHandler& handler,
                                                                   const FleetDetector& wanted,
                                                                   const FleetCamera& entry) {
    ModuleObject<Talvo::GDRV::IVideoAnalytics> detector(
        device.CreateVideoAnalytics(&handler, wanted.channel, wanted.detector.c_str()));
    if (!detector)
      throw usageError(entry.name + ": the module has no detector '" + wanted.detector + "' on channel " +
                       std::to_string(wanted.channel) + " of " + entry.model);
    return detector;
  }

  static Outcome outcome(int status, const std::string& reason) {
    return {status, lineText(JsonObject{{"code", status}, {"error", reason}})};
  }

  // {"telemetry":T,"point":[x,y]} | {"area":[l,t,w,h]} | {"preset":n}, T 0 when left out;
  // coordinates from 0 to 1 of the picture, from its top left corner.
  Outcome ptz(size_t camera, const JsonObject& request) {
    for (const auto& [key, value] : request.items())
      if (key != "telemetry" && key != "point" && key != "area" && key != "preset")
        return outcome(400, "unknown key '" + key.substr(0, 32) + "'");
    const auto index = request.value("telemetry", JsonObject(0u));
    if (!index.is_number_unsigned()) return outcome(400, "'telemetry' must be a channel number");
    Talvo::GDRV::ITelemetry* telemetry = nullptr;
    for (auto& candidate : telemetries_)
      if (candidate.camera == camera && candidate.index == index.get<uint64_t>()) telemetry = candidate.object.get();
    if (!telemetry)
      return outcome(404, "camera " + std::to_string(camera) + " has no telemetry channel " + index.dump() +
                              " in the config");
    const auto fraction = [](const JsonObject& value) {
      return value.is_number() && value.get<double>() >= 0 && value.get<double>() <= 1;
    };
    const auto fractions = [&](const char* key, size_t count) {
      const auto it = request.find(key);
      return it->is_array() && it->size() == count && std::all_of(it->begin(), it->end(), fraction);
    };
    auto* clicks = Talvo::contract_cast<Talvo::GDRV::ITelemetryPointClick>(
        static_cast<Talvo::GDRV::IDeviceChannel*>(telemetry));
    int32_t code = 0;
    if (request.size() - request.count("telemetry") != 1) return outcome(400, "one of 'point', 'area' or 'preset' expected");
    if (request.contains("point")) {
      if (!fractions("point", 2)) return outcome(400, "'point' must be [x,y], each from 0 to 1");
      const auto& point = request["point"];
      code = clicks ? clicks->PointMove({point[0].get<double>(), point[1].get<double>()}) : 8;
    } else if (request.contains("area")) {
      if (!fractions("area", 4)) return outcome(400, "'area' must be [left,top,width,height], each from 0 to 1");
      const auto& area = request["area"];
      code = clicks ? clicks->AreaZoom({area[0].get<double>(), area[1].get<double>(), area[2].get<double>(),
                                        area[3].get<double>()})
                    : 8;
    } else {
      const auto& preset = request["preset"];
      if (!preset.is_number_unsigned() || preset.get<uint64_t>() > 9999)
        return outcome(400, "'preset' must be a whole number from 0 to 9999");
      code = telemetry->GoPreset(preset.get<int32_t>());
    }
    return {200, lineText(withReadableFields(JsonObject{{"code", code}}))};
  }

  // {"io":I,"output":N,"active":B}, I 0 when left out: the channel's answer, or 504 when none
  // came within 10 s.
  Outcome switchOutput(size_t camera, const JsonObject& request) {
    for (const auto& [key, value] : request.items())
      if (key != "io" && key != "output" && key != "active") return outcome(400, "unknown key '" + key.substr(0, 32) + "'");
    const auto index = request.value("io", JsonObject(0u));
    const auto output = request.value("output", JsonObject());
    const auto active = request.value("active", JsonObject());
    if (!index.is_number_unsigned()) return outcome(400, "'io' must be a channel number");
    if (!output.is_number_unsigned() || output.get<uint64_t>() > 255)
      return outcome(400, "'output' must be a whole number from 0 to 255");
    if (!active.is_boolean()) return outcome(400, "'active' must be true or false");
    for (auto& io : ios_) {
      if (io.handler->cameraIndex() != camera || io.handler->index() != index.get<uint64_t>()) continue;
      const auto code = io.handler->switchOutput(*io.object, output.get<int32_t>(), active.get<bool>(),
                                                 Clock::now() + kAnswerDeadline);
      if (!code) return outcome(504, "the I/O channel did not answer within 10 s");
      return {200, lineText(withReadableFields(JsonObject{{"code", *code}}))};
    }
    return outcome(404, "camera " + std::to_string(camera) + " has no I/O channel " + index.dump() + " in the config");
  }

  // Events of I/O channels and detectors (module threads).
  void publishEvent(JsonObject event) {
    if (!event.contains("time")) event["time"] = millisecondsSince1970();
    events_.publish(std::make_shared<const std::string>("data: " + lineText(withReadableFields(event)) + "\n\n"));
  }

  template <class Handler, class Object>
  struct Served {
    Handler* handler;  // kept by the host
    ModuleObject<Object> object;
  };

  struct CameraTelemetry {
    size_t camera;
    uint32_t index;
    ModuleObject<Talvo::GDRV::ITelemetry> object;
  };

  Host& host_;
  const std::vector<FleetCamera>* cameras_ = nullptr;  // the run's, from prepared() on
  std::vector<CameraTelemetry> telemetries_;
  std::vector<Served<ServedIO, Talvo::GDRV::IIODevice>> ios_;
  std::vector<Served<ServedDetector, Talvo::GDRV::IVideoAnalytics>> detectors_;
  std::vector<Served<ServedThermal, Talvo::GDRV::IVideoAnalytics>> thermals_;
  std::vector<std::unique_ptr<ServedChannel>> channels_;  // made before the server starts
  Broadcast events_{256, 64};
  std::unique_ptr<ConsoleServer> server_;
  // Pictures waiting to be made (H.264 key pictures, heat maps), the latest of each source.
  std::mutex jobsMutex_;
  std::condition_variable jobsChanged_;
  std::map<const void*, std::function<void()>> pictureJobs_;
  bool jobsEnd_ = false;
  std::thread jobsThread_;
};

std::string ServedFleet::metricsText() {
  struct Sample {
    std::string labels;
    ChannelHealth::Totals totals;
    bool up = false;
    JsonObject health;
    ServedChannel* channel = nullptr;
  };
  const auto now = Clock::now();
  std::vector<Sample> samples;
  for (auto& channel : channels_) {
    Sample sample;
    const auto& fleetChannel = channel->health.channel();
    sample.labels = "{camera=\"" + labelValue(channel->health.camera()) + "\",channel=\"" +
                    std::to_string(fleetChannel.channel) + "\",stream=\"" + std::to_string(fleetChannel.stream) + "\"}";
    sample.totals = channel->health.totals();
    const auto state = channel->health.state();
    sample.up = state == ChannelHealth::State::Streaming || state == ChannelHealth::State::Degraded;
    sample.health = channel->health.healthLine(now, false);
    sample.channel = channel.get();
    samples.push_back(std::move(sample));
  }
  std::ostringstream out;
  const auto metric = [&](const char* name, const char* type, const char* help, auto value) {
    out << "# HELP " << name << " " << help << "\n# TYPE " << name << " " << type << "\n";
    for (const auto& sample : samples) {
      const std::optional<double> number = value(sample);
      if (number) out << name << sample.labels << " " << *number << "\n";
    }
  };
  using Number = std::optional<double>;
  metric("vantrel_frames_total", "counter", "Pictures received from the camera.",
         [](const Sample& s) { return Number(s.totals.frames); });
  metric("vantrel_bytes_total", "counter", "Bytes of the pictures received.",
         [](const Sample& s) { return Number(s.totals.bytes); });
  metric("vantrel_failures_total", "counter", "Failures the channel reported.",
         [](const Sample& s) { return Number(s.totals.failures); });
  metric("vantrel_reconnects_total", "counter", "Connections to the camera after the first.",
         [](const Sample& s) { return Number(s.totals.reconnects); });
  metric("vantrel_dropped_parts_total", "counter", "Parts of the stream dropped as broken or too big.",
         [](const Sample& s) { return Number(s.totals.droppedParts); });
  metric("vantrel_events_total", "counter", "Events of the channel (failures, recoveries, changes of state).",
         [](const Sample& s) { return Number(s.channel->events.load()); });
  metric("vantrel_viewer_dropped_pictures_total", "counter", "Pictures dropped for viewers that fell behind.",
         [](const Sample& s) { return Number(s.channel->pictures.dropped()); });
  metric("vantrel_channel_up", "gauge", "1 while the channel streams, else 0.",
         [](const Sample& s) { return Number(s.up ? 1 : 0); });
  metric("vantrel_fps", "gauge", "Pictures per second over the last health round.",
         [](const Sample& s) { return Number(s.health.value("fps", 0.0)); });
  metric("vantrel_last_frame_age_seconds", "gauge", "Seconds since the last picture (absent before the first).",
         [](const Sample& s) {
           const auto& age = s.health["last_frame_age_ms"];
           return age.is_number() ? Number(age.get<double>() / 1000) : Number();
         });
  metric("vantrel_viewers", "gauge", "Viewers of the channel's live pictures.",
         [](const Sample& s) { return Number(s.channel->pictures.listeners()); });
  return out.str();
}

int runServe(Host& host, const ServeOptions& options) {
  ServedFleet served(host, options);
  return runFleet(host, options.fleet, &served);
}

}  // namespace

void declareServe(CLI::App& app, CommandRun& chosen) {
  auto* command = app.add_subcommand(
      "serve",
      "Runs the fleet of FILE (see `fleet`) and serves it over HTTP: the console page at /, the\n"
      "channels at /api/channels, live pictures at /api/channels/ID/live.mjpeg and snapshot.jpg\n"
      "(ID: camera index-channel-stream, \"0-0-0\"), events at /api/events (Server-Sent Events) and\n"
      "metrics for Prometheus at /metrics. The first line is {\"kind\":\"listening\",\"url\":URL}, then\n"
      "the fleet's health lines. Any address but a loopback one needs --token-file: every request\n"
      "then carries \"Authorization: Bearer TOKEN\" or the cookie that /login?token=TOKEN sets.\n"
      "Runs N seconds, or until Ctrl-C.");
  auto options = std::make_shared<ServeOptions>();
  auto* seconds = addFleetOptions(*command, options->fleet);
  command->add_option("--listen", options->listen, "where to listen (default 127.0.0.1:8080; port 0: a free one)")
      ->type_name("ADDR:PORT");
  command->add_option("--token-file", options->tokenFile, "a file whose first line is the token requests need")
      ->type_name("FILE");
  command->callback([&chosen, options, seconds] {
    options->fleet.secondsGiven = seconds->count() > 0;
    chosen = [options](Host& host) { return runServe(host, *options); };
  });
}

}  // namespace qrmhost
