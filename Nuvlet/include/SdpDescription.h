// The session description (SDP) a DESCRIBE answer carries: what the RTSP client needs of its
// H.264 video stream. Pure functions, any thread. Declarations only; implemented in libNuvlet.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Talvo {
namespace rtsp {

struct SdpVideo {
  int payloadType = -1;
  std::string control;                     // the media's a=control, "" when none
  std::vector<std::string> parameterSets;  // decoded sprop-parameter-sets NAL units (SPS, PPS)
};

struct SdpDescription {
  std::string control;  // the session's a=control, "" when none
  SdpVideo video;       // the first H.264 video medium
};

// A parameter set of sprop-parameter-sets larger than this is ignored.
constexpr size_t kMaxSdpParameterSet = 4096;

// Reads `text`; false when it offers no H.264 video over RTP/AVP.
bool parseSdp(std::string_view text, SdpDescription& description);

// The URL a control attribute names: `control` itself when absolute ("rtsp://..."), `base`
// when it is "*" or empty, else `control` relative to `base` (joined with one '/').
std::string resolveControl(const std::string& base, const std::string& control);

}  // namespace rtsp
}  // namespace Talvo
