// Vantrel::FrameStatisticReporter: the statistics of one video channel. The frame counters are
// named "video", the connection starts "connects"; both lines go through updateStatistic, which
// posts them to the host on the device's connection thread.
//
// Ownership: a member of the video source; the host handler and `context` outlive it.
// Threads: onFrame, resetFrameCounter, streamOutOfSync, getFramesStatistic and
// onConnectionStart on the channel's video worker only; the host hears the lines on `context`.
#pragma once

#include <cstdint>

#include <boost/asio/io_context.hpp>

#include "host/GDRV.h"
#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Statistics.h"

namespace Vantrel {

class FrameStatisticReporter : public Talvo::Utility::StatisticReporter,
                               public Talvo::Utility::FramesStatistic,
                               public Talvo::Utility::ConnectsStatistic {
 public:
  static constexpr const char* kVideoStatisticName = "video";
  static constexpr const char* kConnectsStatisticName = "connects";
  static constexpr const char* kDroppedStatisticName = "dropped";

  FrameStatisticReporter(const Talvo::LoggerOwner& logger, Talvo::GDRV::IAsyncDeviceChannelHandler* handler,
                         Talvo::IContract* channel, boost::asio::io_context& context);
  FrameStatisticReporter(const FrameStatisticReporter&) = delete;
  FrameStatisticReporter& operator=(const FrameStatisticReporter&) = delete;
  ~FrameStatisticReporter() override;

  // A part of the stream that held no usable picture and was dropped: reports "parts=N", N the
  // parts dropped since this object was made (the channel's start). The channel's worker thread.
  void onPartDropped();

 private:
  uint64_t droppedParts_ = 0;
};

}  // namespace Vantrel
