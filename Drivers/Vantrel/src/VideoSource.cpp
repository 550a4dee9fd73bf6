#include "VideoSource.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <sstream>

#include <boost/asio/deadline_timer.hpp>
#include <boost/format.hpp>
#include <boost/xpressive/xpressive.hpp>

#include "ByteSearch.h"
#include "Device.h"
#include "FrameStatisticReporter.h"
#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/StopReport.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

using Talvo::Utility::anyOr;
using Talvo::Utility::ParamsMap;

const char VideoSource::kBoundary[] = "--VANTREL_Fast_Serverpush\r\n";

namespace {

// Pause between a broken connection and the next attempt.
const auto kReconnectPause = std::chrono::milliseconds(500);
// The bytes that follow a picture in its part: CR LF and the boundary.
const size_t kPartTrailer = 2 + sizeof(VideoSource::kBoundary) - 1;
const char kEventSectionEnd[] = "ENDSECTION EVENT\r\n";
const uint8_t kAudioMarker[] = {0xFF, 0xD9, 0xFF, 0xED};
const size_t kAudioBlockHeader = 16;
// The most one read takes from the socket.
const size_t kReadChunk = 256 * 1024;

}  // namespace

VideoSource::VideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                         Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : Talvo::Utility::SimpleAdjuster(static_cast<Talvo::GDRV::IVideoSource*>(this)),
      Talvo::LoggerOwner(device->rawLogger(), (boost::format("vs %1%.%2%") % channel % stream).str()),
      device_(device),
      channel_(channel),
      stream_(stream),
      deviceData_(device->deviceData()),
      handler_(handler),
      factory_(factory) {
  const auto& channels = device->modelEntry().videoChannels;
  if (channel < channels.size()) {
    const auto* fps = dynamic_cast<const Talvo::GDRV::PropertyInt*>(
        Talvo::GDRV::findProperty(channels[channel].parameters, "useMaxFpsAsCameraSetting"));
    useCameraFps_ = fps && fps->value > 0;
  }
  Talvo::Utility::videoSourceInitializeParams(parameters_, channel, stream, device->modelEntry(), device->driverInfo(),
                                              initialParameters_);
}

VideoSource::~VideoSource() {
  stop_ = true;
  stopChanged_.notify_all();
  if (worker_.joinable() && worker_.get_id() != boost::this_thread::get_id()) worker_.join();
}

void* VideoSource::QueryContract(const char* typeName) {
  using Talvo::Utility::castTo;
  using Talvo::Utility::Path;
  return castTo<Path<Talvo::IAsyncAdjuster>, Path<Talvo::IContract, Talvo::GDRV::IVideoSource>,
                Path<Talvo::GDRV::IVideoSource>, Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

void VideoSource::Destroy() {
  Stop();
  delete this;
}

void VideoSource::Start() {
  std::lock_guard<std::mutex> lock(workerMutex_);
  if (worker_.joinable()) return;
  stop_ = false;
  worker_ = boost::thread([this] { grab(); });
}

void VideoSource::Stop() {
  std::lock_guard<std::mutex> lock(workerMutex_);
  {
    std::lock_guard<std::mutex> stopLock(stopMutex_);
    stop_ = true;
  }
  stopChanged_.notify_all();
  try {
    if (worker_.joinable()) worker_.join();
  } catch (const std::exception& e) {
    NLOG(*this, 3, " std::exception:" << e.what());
  }
}

void VideoSource::RequestKeyFrame(Talvo::IAsyncActionHandler* handler) {
  if (handler) handler->Finished(contract(), 8);
}

int32_t VideoSource::SetBlockConfiguration(bool block) {
  parameters_.setPersistentParam("blockConfiguration", block);
  return 1;
}

bool VideoSource::waitWhileRunning(std::chrono::milliseconds pause) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  return !stopChanged_.wait_for(lock, pause, [this] { return stop_.load(); });
}

int VideoSource::frameReportInterval() const {
  return anyOr<int>(parameters_.getPersistentParam("frameReportInterval"), 0);
}

std::string VideoSource::statisticsLine() const {
  return statistics_ ? statistics_->getFramesStatistic(Talvo::Utility::timeStamp(), 0, false) : std::string();
}

void VideoSource::grab() {
  device_->registerEventChannel(channel_);
  statistics_.reset(new FrameStatisticReporter(*this, handler_, contract(), device_->ioContext()));
  if (handler_) handler_->Started(contract());
  NLOG(*this, 0, " Started");
  while (!stop_) {
    try {
      while (parameters_.hasPending() && !stop_) doApplySettings();
      const std::string codec = Talvo::Utility::getCodecName(parameters_, device_->driverInfo(), "Zelta");
      if (codec == "MJPEG" || codec == "Zelta")
        grabFrame(codec);
      else
        waitWhileRunning(kReconnectPause);  // nothing to receive; do not spin while waiting for settings
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception:" << e.what());
      break;
    }
  }
  device_->unregisterEventChannel(channel_);
  if (statistics_) NLOG(*this, 1, " All " << statisticsLine());
  statistics_.reset();
  NLOG(*this, 0, " Stopped");
  Talvo::Utility::reportStop(handler_, contract());
}

void VideoSource::grabFrame(const std::string& codec) {
  boost::asio::ip::tcp::socket socket(io_);
  boost::asio::streambuf buffer(kMaxPartSize);
  bool errorReported = false;
  while (!stop_) {
    if (parameters_.hasPending()) {
      NLOG(*this, 1, " Reconect, as parameters was changed");
      NLOG(*this, 1, " " << statisticsLine());
      return;
    }
    device_->applyAudioSettings(channel_);
    try {
      if (!socket.is_open()) {
        statistics_->onConnectionStart();
        statistics_->resetFrameCounter(frameReportInterval(), 90);
        init(socket, buffer);
        errorReported = false;
      }
      buffer.consume(readGuarded(socket, buffer, "\r\n\r\n"));  // the part header is not needed
      PartMarks marks;
      const size_t read = readGuarded(socket, buffer, kBoundary, &marks);
      const uint8_t* part = static_cast<const uint8_t*>(buffer.data().data());
      try {
        if (read > kPartTrailer - 1) splitPart(part, read - kPartTrailer, codec, marks);
      } catch (...) {
        buffer.consume(read);
        throw;
      }
      buffer.consume(read);
    } catch (const boost::system::system_error& e) {
      NLOG(*this, 3,
           " Error stream receiving: " << e.code().category().name() << ":" << e.code().value() << "." << e.what());
      NLOG(*this, 1, " " << statisticsLine());
      // A read that ends because the host stopped the channel is no outage.
      if (!errorReported && !stop_ && handler_)
        handler_->Failed(contract(), Talvo::Utility::translateSystemError(e.code()));
      errorReported = true;
      boost::system::error_code ignored;
      socket.close(ignored);
      waitWhileRunning(kReconnectPause);
    } catch (const std::exception& e) {
      NLOG(*this, 3, " std::exception:" << e.what());  // the stream goes on
    }
  }
}

std::string VideoSource::streamPath(const std::string& codec) const {
  std::ostringstream path;
  path << "/control/faststream.jpg?stream=" << (codec == "Zelta" ? "Zelta" : "full");
  if (codec == "Zelta") {
    const int interval = anyOr<int>(parameters_.getPersistentParam("keyFrameInterval"), 0);
    if (interval != 0) path << "&iframerefresh=" << interval;
  }
  if (useCameraFps_)
    path << "&fps=0";
  else
    path << "&fps=" << anyOr<int>(parameters_.getPersistentParam("fps"), 20);
  return path.str();
}

void VideoSource::init(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer) {
  const std::string codec = Talvo::Utility::getCodecName(parameters_, device_->driverInfo(), "Zelta");
  const std::string path = streamPath(codec);
  NLOG(*this, 0, " Init " << codec << " stream with url " << path);
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const Talvo::asio::ConnectionTextError&) {
    // Unreadable connection text: a connection failure like any other, reported and retried.
    throw boost::system::system_error(boost::system::error_code(10, Talvo::get_talvo_category()));
  }
  buffer.consume(buffer.size());  // nothing of an earlier connection belongs to this one
  Talvo::asio::connectHTTP(socket, buffer, path, info, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
  buffer.consume(readGuarded(socket, buffer, kBoundary));
}

size_t VideoSource::readGuarded(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer,
                                const std::string& delimiter, PartMarks* marks) {
  static_assert(PartMarks::kNone == Needle::kNotFound, "a mark not seen is a needle not found");
  Needle needles[] = {{reinterpret_cast<const uint8_t*>(delimiter.data()), delimiter.size()},
                      {reinterpret_cast<const uint8_t*>(kEventSectionEnd), sizeof(kEventSectionEnd) - 1},
                      {kAudioMarker, sizeof(kAudioMarker)}};
  const size_t count = marks ? 3 : 1;
  size_t longest = 0;
  for (size_t n = 0; n < count; ++n) longest = std::max(longest, needles[n].length);
  size_t scanned = 0;  // every needle was looked for at the places before this one
  // Bytes up to and including the delimiter, or 0. Each byte is scanned once for all needles,
  // while it is fresh in the cache.
  auto found = [&]() -> size_t {
    findNeedles(static_cast<const uint8_t*>(buffer.data().data()), scanned, buffer.size(), needles, count);
    if (buffer.size() >= longest) scanned = std::max(scanned, buffer.size() - longest + 1);
    if (needles[0].at == Needle::kNotFound) return 0;
    if (marks) {
      marks->eventEnd = needles[1].at;
      marks->audio = needles[2].at;
    }
    return needles[0].at + delimiter.size();
  };
  if (const size_t n = found()) return n;  // already read with the previous part

  // The guard: a deadline for the whole read. Firing closes the socket, which ends the read.
  bool timedOut = false;
  bool guardDone = false;
  boost::asio::deadline_timer guard(io_, Talvo::asio::DEFAULT_CONNECT_TIMEOUT);
  guard.async_wait([&](const boost::system::error_code& error) {
    guardDone = true;
    if (error == boost::asio::error::operation_aborted) return;
    timedOut = true;
    socket.close();  // a failure to close is raised
  });
  auto settleGuard = [&] {  // its handler must have run before this frame goes
    guard.cancel();
    while (!guardDone) io_.run_one();
  };
  io_.restart();
  for (;;) {
    const size_t before = buffer.size();
    if (before >= buffer.max_size()) {
      settleGuard();
      throw boost::system::system_error(boost::asio::error::not_found, "part larger than the limit");
    }
    boost::system::error_code readError;
    size_t read = 0;
    bool readDone = false;
    socket.async_read_some(buffer.prepare(std::min(kReadChunk, buffer.max_size() - before)),
                           [&](const boost::system::error_code& error, size_t n) {
                             readError = error;
                             read = n;
                             readDone = true;
                           });
    while (!readDone) io_.run_one();
    buffer.commit(read);
    if (timedOut || readError) {
      settleGuard();
      if (timedOut) throw boost::system::system_error(boost::system::error_code(110, boost::system::system_category()));
      throw boost::system::system_error(readError);
    }
    if (const size_t n = found()) {
      settleGuard();
      return n;
    }
  }
}

void VideoSource::splitPart(const uint8_t* data, size_t size, const std::string& codec, const PartMarks& marks) {
  if (size < 4) return;
  // The marks were looked for in all that was read; only those wholly inside the picture count
  // (the first one seen decides: any inside would have come first).
  if (marks.eventEnd != PartMarks::kNone && marks.eventEnd + sizeof(kEventSectionEnd) - 1 <= size)
    device_->processEventFrame(channel_, std::string(reinterpret_cast<const char*>(data), marks.eventEnd));
  if (marks.audio == PartMarks::kNone || marks.audio + sizeof(kAudioMarker) > size) {
    sendVideoFrame(data, size, codec);
    return;
  }
  const size_t pictureSize = marks.audio + 2;  // up to and including FF D9
  sendVideoFrame(data, pictureSize, codec);
  const size_t blockSize = size - pictureSize;  // from FF ED on
  if (blockSize >= kAudioBlockHeader)
    device_->routeAudio(channel_, data + pictureSize + kAudioBlockHeader, blockSize - kAudioBlockHeader);
}

void VideoSource::sendVideoFrame(const uint8_t* data, size_t size, const std::string& codec) {
  static const uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xE0};
  if (size <= 5 || std::memcmp(data, kStart, sizeof kStart) != 0 || data[size - 2] != 0xFF || data[size - 1] != 0xD9) {
    NLOG(*this, 2, " Skip incorrect frame");
    return;
  }
  bool key = true;
  if (codec == "Zelta") {
    const int kind = getZeltaFrameKind(data, size);
    if (kind == 0) {
      NLOG(*this, 2, " Warning: invalid \"" << codec << "\" frame received.");
      return;
    }
    key = kind == 1;
  }
  if (!factory_) return;
  Talvo::MFF::ICompressedBuffer* buffer = factory_->AllocateCompressedBuffer(codec.c_str(), size, 0, key);
  if (!buffer) return;
  statistics_->onFrame(size, key);
  std::memcpy(buffer->GetBuffer(), data, size);
  buffer->SetTimeStamp(Talvo::Utility::timeStamp());
  if (handler_)
    handler_->MultimediaFrame(contract(), buffer);
  else
    buffer->Destroy();
}

// ---- settings -------------------------------------------------------------------------------

namespace {

// Settings of the image request, in the order the camera expects them. A lens item is sent for
// each image sensor; the others are plain "&key=value" pairs.
struct ImageSetting {
  const char* name;
  const char* key;
  enum Kind { Text, Quality, LensItem } kind;
};
const ImageSetting kImageSettings[] = {
    {"resolution", "&size=", ImageSetting::Text},
    {"compression", "&quality=", ImageSetting::Quality},
    {"imageFlip", "rotate", ImageSetting::LensItem},
    {"imageMirror", "&mirror=", ImageSetting::Text},
    {"noiseSuppress", "&noisesuppress=", ImageSetting::Text},
    {"brightness", "brightness", ImageSetting::LensItem},
    {"backlight", "backlight", ImageSetting::LensItem},
    {"saturation", "color", ImageSetting::LensItem},
    {"sharpness", "sharpen", ImageSetting::LensItem},
    {"whiteBalance", "wb_profile", ImageSetting::LensItem},
    {"redGain", "red", ImageSetting::LensItem},
    {"blueGain", "blue", ImageSetting::LensItem},
    {"imageQuality", "reduced_mode", ImageSetting::LensItem},
    {"automaticContrast", "&automatic=", ImageSetting::Text},
};

struct ExposureSetting {
  const char* name;
  const char* key;
  bool isInt;
};
const ExposureSetting kExposureSettings[] = {
    {"flickerfree", "&ca_linefreq=", true},
    {"nightImprovement", "&ca_night_improve=", false},
    {"avgIntensityBrightness", "&ca_avg_intensity=", true},
    {"minIntensityBrightness", "&ca_exp_minavg=", true},
    {"exposure", "&ca_exp_corr=", true},
    {"maxExposure", "&ca_exp_max=", true},
    {"minExposure", "&ca_exp_min=", true},
};

const boost::any* find(const ParamsMap& set, const char* name) {
  const auto found = set.find(name);
  return found == set.end() ? nullptr : &found->second;
}

}  // namespace

std::string VideoSource::cameraLens() const {
  return anyOr<std::string>(parameters_.getPersistentParam("cameraLens"), std::string());
}

std::string VideoSource::bothLensText(const LensItems& items) {
  std::string text;
  for (const auto& item : items) text += "&" + item.first + "=" + item.second + "+" + item.second;
  return text;
}

std::map<std::string, std::pair<std::string, std::string>> VideoSource::readLensPairs(Talvo::http::HttpSession& session,
                                                                                      const std::string& readPath,
                                                                                      const LensItems& items) {
  std::string path = readPath;
  for (const auto& item : items) path += "&" + item.first;
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code error;
  if (!session.get(path, response, body, error) || !response.isSuccess()) return {};
  return lensPairsIn(body, items);
}

std::map<std::string, std::pair<std::string, std::string>> VideoSource::lensPairsIn(const std::string& body,
                                                                                    const LensItems& items) {
  std::map<std::string, std::pair<std::string, std::string>> pairs;
  using namespace boost::xpressive;
  for (const auto& item : items) {
    // key=first+second at the start of a line or after "&"; each number may carry a sign.
    const sregex pair = (bos | set[as_xpr('\n') | '\r' | '&']) >> as_xpr(item.first) >> '=' >>
                        (s1 = !as_xpr('-') >> +_d) >> '+' >> (s2 = !as_xpr('-') >> +_d);
    smatch match;
    if (regex_search(body, match, pair)) pairs[item.first] = {match[1].str(), match[2].str()};
  }
  return pairs;
}

std::string VideoSource::lensText(Talvo::http::HttpSession& session, const LensItems& items) {
  const std::string lens = cameraLens();
  if (lens.empty() || lens == "both" || lens == "auto") return bothLensText(items);
  std::map<std::string, std::pair<std::string, std::string>> current;
  try {
    current = readLensPairs(session, "/control/control?read&section=quickcontrol", items);
  } catch (const boost::system::system_error&) {
    return bothLensText(items);
  }
  if (current.empty()) return bothLensText(items);
  std::string text;
  for (const auto& item : items) {
    const auto pair = current.find(item.first);
    if (pair == current.end()) {
      text += bothLensText({item});  // the camera named no pair for this key
    } else if (lens == "right") {
      text += "&" + item.first + "=" + item.second + "+" + pair->second.second;
    } else if (lens == "left") {
      text += "&" + item.first + "=" + pair->second.first + "+" + item.second;
    }
  }
  return text;
}

void VideoSource::sendSettingsRequest(Talvo::http::HttpSession& session, const std::string& path, int& result) {
  Talvo::http::HttpResponse response;
  std::string body;
  boost::system::error_code error;
  const bool answered = session.get(path, response, body, error);
  if (answered && response.isSuccess()) return;
  NLOG(*this, 3, " Couldn't apply some video settings due to error in HTTP response.");
  if (result == 0) result = Talvo::http::translateResponseError(response);
}

int VideoSource::settingsFailure(const std::exception& error, const char* function) {
  if (const auto* system = dynamic_cast<const boost::system::system_error*>(&error)) {
    if (isLevelEnabled(3))
      log(3, __FILE__, __LINE__, function,
          std::string(" Couldn't apply video settings due to system_error - ") + system->what());
    return Talvo::Utility::translateSystemError(system->code());
  }
  if (dynamic_cast<const boost::bad_any_cast*>(&error)) {
    if (isLevelEnabled(3))
      log(3, __FILE__, __LINE__, function,
          std::string(" Couldn't apply video settings due to bad_any_cast error - ") + error.what());
    return 4;
  }
  if (isLevelEnabled(3))
    log(3, __FILE__, __LINE__, function,
        std::string(" Couldn't apply video settings due to unexpected exception - ") + error.what());
  return 1;
}

Talvo::IAsyncActionHandler* VideoSource::finishSet(Talvo::IAsyncActionHandler* handler, int result) {
  if (handler) handler->Finished(contract(), result);
  return handler;
}

void VideoSource::doApplySettings() {
  ParamsMap set;
  Talvo::IAsyncActionHandler* handler = nullptr;
  if (!parameters_.popParameters(set, handler)) return;
  parameters_.updateParams(set);
  if (processBlockingConfiguration(set, handler)) return;
  int result = 0;
  try {
    const boost::any codec = parameters_.getPersistentParam("codec");
    if (!codec.empty()) boost::any_cast<std::string>(codec);  // a codec that is no text is a bad set
    Talvo::http::HttpSession session(device_->cameraConnection(), logger());

    std::string image;
    LensItems items;
    for (const ImageSetting& setting : kImageSettings) {
      const boost::any* value = find(set, setting.name);
      if (!value) continue;
      switch (setting.kind) {
        case ImageSetting::Text:
          image += setting.key + boost::any_cast<std::string>(*value);
          break;
        case ImageSetting::Quality:
          image += setting.key + std::to_string((10 - boost::any_cast<int>(*value)) * 10);
          break;
        case ImageSetting::LensItem:
          items.emplace_back(setting.key, std::to_string(boost::any_cast<int>(*value)));
          break;
      }
    }
    if (!items.empty()) image += lensText(session, items);
    if (const boost::any* mode = find(set, "displayMode"))
      image += "&display_mode=" + boost::any_cast<std::string>(*mode);
    if (const boost::any* lens = find(set, "cameraLens")) image += "&camera=" + boost::any_cast<std::string>(*lens);
    if (!image.empty()) sendSettingsRequest(session, "/control/control?section=imagecontrol" + image, result);

    if (const boost::any* fps = find(set, "fps")) {
      const int f = boost::any_cast<int>(*fps);
      const std::string rate = (f == 31 || f == 0) ? "0" : std::to_string(f) + "00";
      sendSettingsRequest(session, "/control/control?section=general&framerate100=" + rate, result);
    }

    std::string exposure;
    for (const ExposureSetting& setting : kExposureSettings) {
      const boost::any* value = find(set, setting.name);
      if (!value) continue;
      exposure += setting.key +
                  (setting.isInt ? std::to_string(boost::any_cast<int>(*value)) : boost::any_cast<std::string>(*value));
    }
    if (!exposure.empty())
      sendSettingsRequest(session, "/control/control?set&section=exposurecontrol" + exposure, result);
  } catch (const std::exception& e) {
    result = settingsFailure(e, "doApplySettings");
  }
  finishSet(handler, result);
}

}  // namespace Vantrel
