// Vantrel::VideoSourceRTSP: the live-video channel of a stream whose codec is H.264. The camera
// serves it over RTSP at "/vantrel.h264"; the utility library's RTSPClient does the exchange
// and puts the frames into the host's buffers. This class supplies the URL and credentials,
// the start/stop state machine (AsyncSource) and the reconnect policy (StreamSource): a
// failure is reported once per outage, the first retry after a working period is immediate,
// then one every 3 s.
//
// Threads: the host's threads start, stop, destroy and apply settings; everything else runs on
// the channel's worker (AsyncSource). Ownership: the host owns the channel until Destroy; the
// device outlives it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "FrameStatisticReporter.h"
#include "Nuvlet/include/StreamSource.h"
#include "host/GDRV.h"
#include "host/Nuvlet/FrameSink.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Parameters.h"
#include "host/Nuvlet/RTSPClient.h"

namespace Vantrel {

class Device;

class VideoSourceRTSP : public Talvo::LoggerOwner,
                        public Talvo::Utility::StreamSource<Talvo::GDRV::IVideoSource, VideoSourceRTSP, Device> {
  using Base = Talvo::Utility::StreamSource<Talvo::GDRV::IVideoSource, VideoSourceRTSP, Device>;
  friend class Talvo::Utility::AsyncSource<Talvo::GDRV::IVideoSource, VideoSourceRTSP, Device>;
  friend Base;

 public:
  static constexpr const char* kStreamPath = "/vantrel.h264";

  VideoSourceRTSP(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                  Talvo::MFF::IMultimediaFrameFactory* factory, Device* device);
  ~VideoSourceRTSP() override;

  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override;

  uint32_t GetChannel() override { return channel_; }
  uint32_t GetStream() override { return stream_; }
  // Not offered over RTSP: answered at once with code 8.
  void RequestKeyFrame(Talvo::IAsyncActionHandler* handler) override;
  int32_t SetBlockConfiguration(bool block) override;

  Talvo::IContract* contract() { return static_cast<Talvo::GDRV::IVideoSource*>(this); }

  // Tests shorten the waits; the product keeps the defaults. Before Start.
  void setReconnectDelay(boost::posix_time::time_duration delay) { reconnectDelay_ = delay; }
  void setRtspTimeouts(const Talvo::Utility::RtspTimeouts& timeouts) { client_.setTimeouts(timeouts); }

 private:
  // AsyncSource / StreamSource hooks, on the worker.
  std::unique_ptr<FrameStatisticReporter> createStatistics();
  void connectStep();
  void stopStep();
  void onSessionEnd(const boost::system::error_code& error);

  Device* device_;
  uint32_t channel_;
  uint32_t stream_;
  Talvo::GDRV::IVideoSourceHandler* videoHandler_;
  Talvo::MFF::IMultimediaFrameFactory* factory_;
  bool reportNextFailure_ = true;  // worker; the frame sink sets it again on a session's first frame
  Talvo::Utility::VideoSinkParams sink_;
  Talvo::Utility::RTSPClient client_;
  Talvo::Utility::ParamsMap initialParameters_;
  boost::posix_time::time_duration reconnectDelay_ = boost::posix_time::microseconds(3000000);
};

}  // namespace Vantrel
