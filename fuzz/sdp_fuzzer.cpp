// The session description of a DESCRIBE answer and the control URLs it names.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Nuvlet/include/SdpDescription.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Talvo::rtsp::SdpDescription description;
  if (!Talvo::rtsp::parseSdp(text, description)) return 0;
  if (description.video.payloadType < 0) std::abort();
  for (const std::string& set : description.video.parameterSets)
    if (set.empty() || set.size() > Talvo::rtsp::kMaxSdpParameterSet) std::abort();
  const std::string url = Talvo::rtsp::resolveControl("rtsp://h/v.h264", description.video.control);
  if (url.empty()) std::abort();
  return 0;
}
