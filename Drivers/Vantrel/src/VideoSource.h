// Vantrel::VideoSource: the classic live-video channel. For one camera channel and stream it
// holds a plain HTTP connection to the camera's server-push stream "/control/faststream.jpg",
// cuts the multipart body into JPEG pictures (full JPEG or Zelta delta pictures), hands each to
// the host, routes the audio blocks and event sections found in the stream to the device, and
// turns the host's image settings into camera control requests.
//
// Threads: one worker per channel (grab) owns the socket, the private io_context, the statistics
// and every camera request of the settings step; host threads call Start, Stop,
// SetBlockConfiguration and ApplySettings (which only queues the set). Frames are delivered on the
// worker; Stopped on the process-wide service.
// Ownership: the host owns the channel until Destroy; the device outlives its channels.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "DeviceData.h"
#include "host/GDRV.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Vantrel {

class Device;
class FrameStatisticReporter;

class VideoSource : public Talvo::GDRV::IVideoSource, public Talvo::Utility::SimpleAdjuster, public Talvo::LoggerOwner {
 public:
  // The most one multipart part (or part header) may hold. A camera that sends more without a
  // boundary has a broken stream: the connection is dropped, reported and opened again.
  static constexpr size_t kMaxPartSize = 32u * 1024 * 1024;
  static const char kBoundary[];  // "--VANTREL_Fast_Serverpush\r\n"

  VideoSource(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
              Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);
  ~VideoSource() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  void Destroy() override;
  uint32_t GetChannel() override { return channel_; }
  void Start() override;
  void Stop() override;
  // Not offered by this camera interface: answered at once with code 8.
  void RequestKeyFrame(Talvo::IAsyncActionHandler* handler) override;
  int32_t SetBlockConfiguration(bool block) override;
  uint32_t GetStream() override { return stream_; }
  void ApplySettings(Talvo::IAsyncActionHandler* handler) override { SimpleAdjuster::ApplySettings(handler); }

  // The channel as the host knows it.
  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IVideoSource*>(this); }

 protected:
  // Worker thread: pops one pending set and sends it to the camera; answers its handler.
  virtual void doApplySettings();

  // Settings helpers shared with the sectioned settings of newer cameras.
  using LensItems = std::vector<std::pair<std::string, std::string>>;
  // GET `path` on the camera; a missing answer or an error status is logged and, when `result`
  // is still 0, becomes the result.
  void sendSettingsRequest(Talvo::http::HttpSession& session, const std::string& path, int& result);
  // Ends a set that raised `error` with the log line and result code its kind calls for.
  int settingsFailure(const std::exception& error, const char* function);
  // The current lens pair "first+second" of each key, read with `readPath`; empty when the
  // camera gives no good answer.
  std::map<std::string, std::pair<std::string, std::string>> readLensPairs(Talvo::http::HttpSession& session,
                                                                           const std::string& readPath,
                                                                           const LensItems& items);
  // The pairs "key=first+second" (integers) the camera's read answer `body` holds for the keys
  // of `items`; keys without such a pair are missing from the result.
  static std::map<std::string, std::pair<std::string, std::string>> lensPairsIn(const std::string& body,
                                                                                const LensItems& items);
  // "&key=v+v" for every item (both sensors alike).
  static std::string bothLensText(const LensItems& items);
  // The stored "cameraLens" when it is a string, else "".
  std::string cameraLens() const;

  Device* device() const { return device_; }
  uint32_t channel() const { return channel_; }
  Talvo::IAsyncActionHandler* finishSet(Talvo::IAsyncActionHandler* handler, int result);

 private:
  void grab();
  void grabFrame(const std::string& codec);
  void init(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer);
  std::string streamPath(const std::string& codec) const;
  // Where a part's event section ends and its audio block starts, looked for while the part is
  // read (so that every byte is scanned once, while it is fresh in the cache). Offsets from the
  // start of the part; kNone when not seen.
  struct PartMarks {
    static constexpr size_t kNone = static_cast<size_t>(-1);
    size_t eventEnd = kNone;
    size_t audio = kNone;
  };
  // Reads until `delimiter` under the read guard; returns the bytes up to and including it.
  // With `marks`, also looks for them in what it reads.
  size_t readGuarded(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, const std::string& delimiter,
                     PartMarks* marks = nullptr);
  void splitPart(const uint8_t* data, size_t size, const std::string& codec, const PartMarks& marks);
  void sendVideoFrame(const uint8_t* data, size_t size, const std::string& codec);
  std::string lensText(Talvo::http::HttpSession& session, const LensItems& items);
  std::string statisticsLine() const;
  bool waitWhileRunning(std::chrono::milliseconds pause);
  int frameReportInterval() const;

  Device* device_;
  uint32_t channel_;
  uint32_t stream_;
  boost::shared_ptr<DeviceData> deviceData_;
  Talvo::GDRV::IVideoSourceHandler* handler_;
  Talvo::MFF::IMultimediaFrameFactory* factory_;
  Talvo::Utility::ParamsMap initialParameters_;
  boost::asio::io_context io_;
  std::atomic<bool> stop_{true};
  std::mutex stopMutex_;  // with stopChanged_: lets Stop cut the pause between attempts short
  std::condition_variable stopChanged_;
  std::mutex workerMutex_;  // Start and Stop from host threads
  boost::thread worker_;
  bool useCameraFps_ = false;
  std::unique_ptr<FrameStatisticReporter> statistics_;
};

}  // namespace Vantrel
