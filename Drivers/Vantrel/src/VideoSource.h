// Vantrel::VideoSource: the classic live-video channel. For one camera channel and stream it
// holds a plain HTTP connection to the camera's server-push stream "/control/faststream.jpg",
// reads it part by part (PartReader cuts the parts), hands each accepted picture to the host
// (PictureCheck decides), routes the audio blocks and event sections found in the stream to the
// device, and sends the camera requests that the host's image settings become (VideoSettings
// builds them).
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
#include <optional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "DeviceData.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "PartReader.h"
#include "VideoSettings.h"
#include "host/GDRV.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Vantrel {

class Device;
class FrameStatisticReporter;

class VideoSource : public Talvo::GDRV::IVideoSource, public Talvo::Utility::SimpleAdjuster, public Talvo::LoggerOwner {
 public:
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
  // Worker thread: the path of `request` as it goes out, its lens items merged with the
  // camera's current pairs where one lens of two is chosen; "" when nothing is to be sent.
  virtual std::string composePath(Talvo::http::HttpSession& session, const SettingsRequest& request);

  // Sends the requests of `plan` in order, then raises the failure that stopped its building.
  // An error status is logged and, when `result` is still 0, becomes the result.
  void sendSettings(Talvo::http::HttpSession& session, const SettingsPlan& plan, int& result);
  // The camera's current pairs of `items`, read with `path`; nothing when it answers with an
  // error status. Throws boost::system::system_error when no answer comes.
  std::optional<LensPairs> readCurrentPairs(Talvo::http::HttpSession& session, const std::string& path,
                                            const LensItems& items);
  // Ends a set that raised `error` with the log line and result code its kind calls for.
  int settingsFailure(const std::exception& error, const char* function);
  Talvo::IAsyncActionHandler* finishSet(Talvo::IAsyncActionHandler* handler, int result);
  // True on the worker thread while it runs (checked in debug builds).
  bool onWorkerThread() { return workerThread_.calledOnBoundThread(); }

  Device* device() const { return device_; }

 private:
  void grab();
  void grabFrame(const std::string& codec);
  void init(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, PartReader& reader);
  std::string streamPath(const std::string& codec) const;
  // Reads under the read guard until `reader` ends its current stage. Precondition: `buffer`
  // can grow to PartReader::kMaxPartSize bytes (the reader refuses a stage of that size, so a
  // read always finds room).
  PartReader::Step readStage(boost::asio::ip::tcp::socket& socket, boost::asio::streambuf& buffer, PartReader& reader);
  void deliverPart(const PartPieces& pieces, const std::string& codec);
  void sendVideoFrame(const ByteRange& picture, const std::string& codec);
  void sendSettingsRequest(Talvo::http::HttpSession& session, const std::string& path, int& result);
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
  Talvo::Utility::ThreadBinding workerThread_;  // bound while grab runs
  bool useCameraFps_ = false;
  std::unique_ptr<FrameStatisticReporter> statistics_;
};

}  // namespace Vantrel
