// The H.264 video medium of a session description.
#include "Nuvlet/include/SdpDescription.h"

#include <algorithm>
#include <cctype>

#include "host/Nuvlet/Base64.h"

namespace Talvo {
namespace rtsp {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool iequalsPrefix(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// A small decimal number at the front of `text`, -1 when there is none.
int leadingNumber(std::string_view text) {
  int value = 0;
  size_t digits = 0;
  while (digits < text.size() && digits < 4 && std::isdigit(static_cast<unsigned char>(text[digits])))
    value = value * 10 + (text[digits++] - '0');
  return digits == 0 ? -1 : value;
}

// "m=video 0 RTP/AVP 96": the first payload type, -1 for another medium or profile.
int videoPayloadType(std::string_view line) {
  if (!startsWith(line, "m=video ")) return -1;
  const size_t profile = line.find(" RTP/AVP", 7);
  if (profile == std::string_view::npos) return -1;
  const size_t formats = line.find(' ', profile + 1);
  if (formats == std::string_view::npos) return -1;
  return leadingNumber(line.substr(formats + 1));
}

// "a=rtpmap:96 H264/90000" for payload type `type`.
bool isH264Map(std::string_view line, int type) {
  if (!startsWith(line, "a=rtpmap:") || leadingNumber(line.substr(9)) != type) return false;
  const size_t blank = line.find(' ');
  return blank != std::string_view::npos && iequalsPrefix(line.substr(blank + 1), "H264/");
}

void readParameterSets(std::string_view fmtp, std::vector<std::string>& sets) {
  const size_t key = fmtp.find("sprop-parameter-sets=");
  if (key == std::string_view::npos) return;
  std::string_view value = fmtp.substr(key + 21);
  value = value.substr(0, std::min(value.find(';'), value.size()));
  while (!value.empty()) {
    const size_t comma = std::min(value.find(','), value.size());
    std::string_view item = value.substr(0, comma);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    const auto decoded = Utility::base64Decode(item);
    if (decoded && !decoded->empty() && decoded->size() <= kMaxSdpParameterSet) sets.push_back(*decoded);
    value.remove_prefix(std::min(comma + 1, value.size()));
  }
}

}  // namespace

bool parseSdp(std::string_view text, SdpDescription& description) {
  SdpDescription found;
  bool inVideo = false;  // inside the chosen medium
  bool chosen = false;
  bool h264 = false;
  bool sessionLevel = true;  // before the first medium
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (startsWith(line, "m=")) {
      inVideo = false;
      sessionLevel = false;
      if (chosen) continue;  // the first H.264 medium wins; later ones are skipped
      const int type = videoPayloadType(line);
      if (type >= 0) {
        inVideo = true;
        found.video = SdpVideo();
        found.video.payloadType = type;
      }
      continue;
    }
    if (!inVideo) {
      if (sessionLevel && startsWith(line, "a=control:")) found.control = std::string(line.substr(10));
      continue;
    }
    if (isH264Map(line, found.video.payloadType)) {
      h264 = true;
      chosen = true;
    } else if (startsWith(line, "a=control:")) {
      found.video.control = std::string(line.substr(10));
    } else if (startsWith(line, "a=fmtp:") && leadingNumber(line.substr(7)) == found.video.payloadType) {
      readParameterSets(line, found.video.parameterSets);
    }
  }
  if (!h264) return false;
  description = std::move(found);
  return true;
}

std::string resolveControl(const std::string& base, const std::string& control) {
  if (control.empty() || control == "*") return base;
  if (iequalsPrefix(control, "rtsp://") || iequalsPrefix(control, "rtsps://")) return control;
  if (!base.empty() && base.back() == '/') return base + (control.front() == '/' ? control.substr(1) : control);
  return base + (control.front() == '/' ? control : "/" + control);
}

}  // namespace rtsp
}  // namespace Talvo
