#include "VideoSourceRTSP.h"
#include "ChannelLogger.h"

#include <boost/format.hpp>

#include "Device.h"
#include "Nuvlet/include/Contract.h"
#include "host/Nuvlet/Connection.h"
#include "host/Nuvlet/ErrorCodes.h"

namespace Vantrel {

namespace {
// The library's code for a connection text that cannot be read.
const int kUnreadableConnection = 10;
}  // namespace

VideoSourceRTSP::VideoSourceRTSP(Talvo::GDRV::IVideoSourceHandler* handler, uint32_t stream, uint32_t channel,
                                 Talvo::MFF::IMultimediaFrameFactory* factory, Device* device)
    : Talvo::LoggerOwner(channelLogger(device, (boost::format("vs %1%.%2%") % channel % stream).str())),
      Base(handler, device, static_cast<Talvo::GDRV::IVideoSource*>(this)),
      device_(device),
      channel_(channel),
      stream_(stream),
      videoHandler_(handler),
      factory_(factory),
      client_(ioContext(), *this, sink_) {
  Talvo::Utility::videoSourceInitializeParams(parameters_, channel, stream, device->modelEntry(), device->driverInfo(),
                                              initialParameters_);
}

VideoSourceRTSP::~VideoSourceRTSP() = default;

void* VideoSourceRTSP::QueryContract(const char* typeName) {
  using Talvo::Utility::castTo;
  using Talvo::Utility::Path;
  return castTo<Path<Talvo::IAsyncAdjuster>, Path<Talvo::IContract, Talvo::GDRV::IVideoSource>,
                Path<Talvo::GDRV::IVideoSource>, Path<Talvo::GDRV::IDeviceChannel>>(this, typeName);
}

void VideoSourceRTSP::RequestKeyFrame(Talvo::IAsyncActionHandler* handler) {
  if (handler) handler->Finished(contract(), 8);
}

int32_t VideoSourceRTSP::SetBlockConfiguration(bool block) {
  parameters_.setPersistentParam("blockConfiguration", block);
  return 1;
}

std::unique_ptr<FrameStatisticReporter> VideoSourceRTSP::createStatistics() {
  return std::make_unique<FrameStatisticReporter>(*this, videoHandler_, contract(), device_->ioContext());
}

void VideoSourceRTSP::connectStep() {
  connectsStatistic()->onConnectionStart();
  framesStatistic()->resetFrameCounter(
      Talvo::Utility::anyOr<int>(parameters_.getPersistentParam("frameReportInterval"), 0), 90);
  Talvo::asio::ConnectionInfo info;
  try {
    info = device_->cameraConnection();
  } catch (const Talvo::asio::ConnectionTextError&) {
    onSessionEnd(boost::system::error_code(kUnreadableConnection, Talvo::get_talvo_category()));
    return;
  }
  sink_.handler = videoHandler_;
  sink_.factory = factory_;
  sink_.channel = contract();
  sink_.reportNextFailure = &reportNextFailure_;
  sink_.videoEnabled = 1;
  sink_.statisticEnabled = 1;
  sink_.statistic = framesStatistic();
  Talvo::Utility::setDefaultRtspPort(info);
  NLOG(*this, 0, " Connecting to rtsp://" << info.hostAndPort() << kStreamPath);
  client_.start(info, kStreamPath, [this](const boost::system::error_code& error) { onSessionEnd(error); });
}

void VideoSourceRTSP::stopStep() { client_.teardown(boost::system::error_code()); }

void VideoSourceRTSP::onSessionEnd(const boost::system::error_code& error) {
  if (!running()) return;
  const bool newOutage = reportNextFailure_;
  scheduleReconnect(newOutage ? boost::posix_time::time_duration(boost::posix_time::neg_infin) : reconnectDelay_);
  if (error && newOutage) {
    reportNextFailure_ = false;
    if (videoHandler_) videoHandler_->Failed(contract(), Talvo::Utility::translateSystemError(error));
  }
}

}  // namespace Vantrel
