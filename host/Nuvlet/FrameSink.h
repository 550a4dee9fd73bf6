// The frame sink: how a stream the utility library receives (RTSP H.264) reaches the host's
// buffers. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "../Contract.h"
#include "../GDRV.h"
#include "../MFF.h"
#include "Statistics.h"

namespace Talvo {
namespace Utility {

// Filled by the channel before a session starts; the pointers stay valid while it runs.
struct VideoSinkParams {
  GDRV::IVideoSourceHandler* handler = nullptr;
  MFF::IMultimediaFrameFactory* factory = nullptr;
  IContract* channel = nullptr;
  // Set again on a session's first frame: the channel's next failure is a new outage.
  bool* reportNextFailure = nullptr;
  int videoEnabled = 1;      // 0: frames are counted, not delivered
  int statisticEnabled = 1;  // 0: frames are not counted
  FramesStatistic* statistic = nullptr;
};

// Copies one frame of `codec` into a buffer of the host's factory and hands it to the handler,
// time stamp `timeStampMs` (ms since 1970). False when no buffer could be had.
// Thread: the session's (the channel's worker).
bool deliverVideoFrame(const VideoSinkParams& sink, const char* codec, const uint8_t* data, size_t size, bool key,
                       uint64_t timeStampMs);

}  // namespace Utility
}  // namespace Talvo
