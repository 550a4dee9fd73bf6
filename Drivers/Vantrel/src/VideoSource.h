// Vantrel::VideoSource: the classic live-video channel. For one camera channel and stream it
// holds a plain HTTP connection to the camera's server-push stream "/control/faststream.jpg",
// reads it part by part (ServerPushReader cuts the parts), hands each accepted picture to the host
// (PictureCheck decides), routes the audio blocks and event sections found in the stream to the
// device, and sends the camera requests that the host's image settings become (VideoSettings
// builds them). When the camera announces each part's length and its parts hold nothing but the
// picture, a body is read from the socket straight into the host's frame buffer.
//
// Threads: one worker per channel owns the socket, the private io_context, the statistics and
// every camera request of the settings step; it runs one session (grab: Started ... Stopped)
// after another while the host starts the channel again. Any thread, the worker's own callbacks
// included, may call Start, Stop and Destroy: Stop ends the session at once (it closes the socket
// on the io_context and cancels the running camera request) and, off the worker, waits for its
// end; on the worker it only asks for it. Frames are delivered on the worker; Stopped on the
// process-wide service.
// Ownership: the host owns the channel until Destroy; the device outlives its channels. A
// Destroy from the worker leaves the deletion to the worker as it ends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>

#include "MappedBlockAllocator.h"
#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>

#include "DeviceData.h"
#include "Nuvlet/include/ThreadCheck.h"
#include "ServerPushReader.h"
#include "VideoSettings.h"
#include "host/GDRV.h"
#include "host/Nuvlet/HttpBlocking.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/SimpleAdjuster.h"

namespace Vantrel {

class Device;
class FrameStatisticReporter;

using ReceiveBuffer = boost::asio::basic_streambuf<MappedBlockAllocator<char>>;

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

  // Diagnostics, any thread: the receive buffer's capacity after the last part, and whether the
  // worker waits for bytes from the camera right now.
  size_t receiveBufferCapacity() const { return bufferCapacity_; }
  bool waitingForCamera() const { return waitingForCamera_; }

  // The most one part may take, however steadily its bytes come (silence ends it after 5 s).
  static constexpr std::chrono::seconds kMaxPartTime{60};
  // Without a deliverable picture for this long on a live stream, the camera's data is bad.
  static constexpr std::chrono::seconds kBadDataReport{10};
  // A connection that delivers less than half the configured rate for this long is a slow link:
  // logged once (level 1) until the rate recovers.
  static constexpr std::chrono::seconds kSlowLinkWindow{10};
  // The receive buffer keeps at most this much memory between parts.
  static constexpr size_t kKeptBufferCapacity = 4u * 1024 * 1024;

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

  // Worker thread: a camera request session that Stop cancels while it lives.
  class CancellableSession {
   public:
    explicit CancellableSession(VideoSource& owner);
    ~CancellableSession();
    Talvo::http::HttpSession& get() { return session_; }

   private:
    VideoSource& owner_;
    Talvo::http::HttpSession session_;
  };

 private:
  using Clock = std::chrono::steady_clock;

  // The worker thread: sessions while the host wants them, then the end of the thread.
  void workerMain();
  // With workerMutex_ held: asks the session to end, closes the socket, cancels requests.
  void interruptSession();
  // Off the worker, with workerMutex_ held in `lock`: waits until the running session ended.
  void waitForSessionEnd(std::unique_lock<std::mutex>& lock);
  void grab();
  void grabFrame(const std::string& codec);
  void init(ServerPushReader& reader);
  std::string streamPath(const std::string& codec) const;
  // Reads until `reader` ends its current stage, at most `chunk` bytes a read. Precondition: the
  // buffer can grow to ServerPushReader::kMaxPartSize bytes (the reader refuses a stage of that
  // size, so a read always finds room).
  ServerPushReader::Step readStage(ServerPushReader& reader, Clock::time_point partDeadline, size_t chunk);
  // One read of at most `chunk` bytes from the socket into the buffer.
  void readSome(Clock::time_point partDeadline, size_t chunk);
  // One read from the socket into `target` under the silence guard and `partDeadline`; returns
  // the bytes read. Throws boost::system::system_error (110 when a guard fires).
  size_t readSomeInto(boost::asio::mutable_buffer target, Clock::time_point partDeadline);
  // Worker: the socket wakes the reader once `bytes` are there (or the stream ends).
  void setLowWatermark(size_t bytes);
  // Receives one part; returns true when its picture reached the host.
  bool receivePart(ServerPushReader& reader, const std::string& codec);
  // Reads the `length` bytes of body a part head announced straight into a host frame buffer
  // and hands them on. Returns whether a picture reached the host; nothing when the body was
  // not read that way (no host buffer, or the stream does not confirm the length: then its bytes
  // are back in front of the receive buffer).
  std::optional<bool> receiveAnnouncedBody(ServerPushReader& reader, size_t length, const std::string& codec,
                                           Clock::time_point partDeadline);
  // Puts `size` bytes in front of the receive buffer's bytes.
  void putBack(const uint8_t* data, size_t size);
  // Reads the answer head; throws the status as an http error when it is no success. False (and
  // nothing thrown) for a 401 whose Digest challenge was taken while `mayAskAgain`: the stream is
  // then to be asked for once more.
  bool checkAnswerStatus(Clock::time_point deadline, const Talvo::asio::ConnectionInfo& info, bool mayAskAgain);
  // Worker: a buffer with its normal capacity when a big part has grown it, keeping its bytes.
  void trimBuffer();
  void reportOutage(int code);
  // Worker, after each part: counts a delivered picture and judges the rate once a window ends.
  void watchRate(bool delivered);
  void restartRateWindow();
  // A host frame buffer the driver holds: destroyed unless handed on.
  struct DestroyFrame {
    void operator()(Talvo::MFF::ICompressedBuffer* buffer) const { buffer->Destroy(); }
  };
  using HostFrame = std::unique_ptr<Talvo::MFF::ICompressedBuffer, DestroyFrame>;

  // Hands on what a part's body held; returns true when a picture reached the host. `filled`,
  // allocated with the key flag `filledKey`, may hold the picture already (the body was read into
  // it); it goes to the host as it is when it holds exactly the accepted picture.
  bool deliverPart(const PartPieces& pieces, const std::string& codec, HostFrame filled = nullptr,
                   bool filledKey = false);
  bool sendVideoFrame(const ByteRange& picture, const std::string& codec, HostFrame filled, bool filledKey);
  // Checks a picture: its key flag when the host may have it; nothing when it is dropped (logged
  // and counted).
  std::optional<bool> acceptPicture(const ByteRange& picture, const std::string& codec);
  // The bytes received and not consumed yet.
  const uint8_t* bufferBytes() const;
  void warnCollapsed(const char* key, const std::string& text);
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
  boost::asio::ip::tcp::socket socket_{io_};  // worker; others only post onto io_
  // The request goes out through its own buffer; the receive buffer maps its large blocks itself,
  // so that an endless part leaves no heap behind it (see MappedBlockAllocator.h).
  boost::asio::streambuf request_;
  std::unique_ptr<ReceiveBuffer> buffer_;
  std::atomic<size_t> bufferCapacity_{0};
  std::atomic<bool> waitingForCamera_{false};
  std::atomic<bool> stop_{true};
  std::mutex stopMutex_;  // with stopChanged_: lets Stop cut the pause between attempts short
  std::condition_variable stopChanged_;
  // workerMutex_ guards the thread's state below; never held while calling the host or joining.
  std::mutex workerMutex_;
  std::condition_variable sessionEnded_;
  bool running_ = false;     // the worker thread runs sessions
  bool restart_ = false;     // a Start came while the session was ending: run another
  bool selfDelete_ = false;  // Destroy came from the worker: it deletes the channel as it ends
  uint64_t sessionEnds_ = 0;
  std::vector<Talvo::http::HttpSession*> sessions_;  // the camera requests Stop cancels
  boost::thread worker_;
  // Outage reporting (worker): one Failed until a picture reaches the host again.
  bool outageReported_ = false;
  Clock::time_point lastPicture_;
  std::chrono::milliseconds authPause_;  // grows while the camera refuses the credentials
  // Slow-link watch (worker): the current window and its pictures; whether this episode was told.
  Clock::time_point rateWindowStart_;
  uint64_t rateWindowPictures_ = 0;
  bool slowLinkLogged_ = false;
  const std::string collapseKey_;
  Talvo::Utility::ThreadBinding workerThread_;  // bound while grab runs
  bool useCameraFps_ = false;
  // Worker: whether the next announced body may go straight into a host buffer (the camera's
  // last part held nothing but a picture of the length it announced).
  bool directReads_ = false;
  size_t lowWatermark_ = 1;  // the socket's SO_RCVLOWAT
  std::unique_ptr<FrameStatisticReporter> statistics_;
};

}  // namespace Vantrel
