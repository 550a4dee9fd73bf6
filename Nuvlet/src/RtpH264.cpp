// RTP H.264 depacketising and access unit assembly.
#include "Nuvlet/include/RtpH264.h"

#include <cstring>

namespace Talvo {
namespace rtsp {

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
enum NalType : uint8_t { kIdr = 5, kSps = 7, kPps = 8, kStapA = 24, kFuA = 28 };

uint8_t nalType(uint8_t header) { return header & 0x1f; }

}  // namespace

bool parseRtpPacket(const uint8_t* data, size_t size, RtpPacket& packet) {
  if (size < 12 || (data[0] >> 6) != 2) return false;
  size_t header = 12 + 4u * (data[0] & 0x0f);
  if (size < header) return false;
  if (data[0] & 0x10) {  // header extension: 4 bytes, then its length in 32-bit words
    if (size < header + 4) return false;
    header += 4 + 4u * ((data[header + 2] << 8) | data[header + 3]);
    if (size < header) return false;
  }
  size_t padding = 0;
  if (data[0] & 0x20) {
    padding = data[size - 1];
    if (padding == 0 || size - header < padding) return false;
  }
  packet.marker = (data[1] & 0x80) != 0;
  packet.payloadType = data[1] & 0x7f;
  packet.sequence = static_cast<uint16_t>((data[2] << 8) | data[3]);
  packet.timestamp = (uint32_t(data[4]) << 24) | (uint32_t(data[5]) << 16) | (uint32_t(data[6]) << 8) | data[7];
  packet.payload = data + header;
  packet.payloadSize = size - header - padding;
  return true;
}

H264Assembler::H264Assembler(FrameCallback onFrame, DropCallback onDrop)
    : onFrame_(std::move(onFrame)), onDrop_(std::move(onDrop)) {}

void H264Assembler::setParameterSets(const std::vector<std::string>& nalUnits) {
  for (const std::string& nal : nalUnits) {
    if (nal.empty()) continue;
    const uint8_t type = nalType(static_cast<uint8_t>(nal[0]));
    if (type == kSps) sps_ = nal;
    if (type == kPps) pps_ = nal;
  }
}

bool H264Assembler::takeSequence(const RtpPacket& packet) {
  if (!haveSequence_) return true;
  const auto ahead = static_cast<uint16_t>(packet.sequence - lastSequence_);
  const bool late = ahead == 0 || ahead > 0xFFFF - kMaxMisorder;
  if (late && ++lateInARow_ <= kMaxMisorder) return false;  // a duplicate or a late packet: its unit is gone
  lateInARow_ = 0;
  if (ahead == 1) return true;
  // Packets were lost, or the numbering jumped: the unit they belonged to cannot be decoded (the
  // open one, or the one this packet opens), and no delta frame after it until the next key frame.
  waitForKey_ = true;
  if (!unitOpen_) {
    dropUnit();  // lost between units: at least one unit is gone (counted, never seen)
  } else if (packet.timestamp != unitTimestamp_) {
    unitBroken_ = true;
    closeUnit();
  }
  unitBroken_ = true;
  inFragment_ = false;
  fragment_.clear();
  return true;
}

bool H264Assembler::push(const RtpPacket& packet) {
  if (!takeSequence(packet)) return true;
  haveSequence_ = true;
  lastSequence_ = packet.sequence;
  if (unitOpen_ && packet.timestamp != unitTimestamp_) closeUnit();  // the marker was lost or not set
  if (!unitOpen_) {
    unitOpen_ = true;
    unitTimestamp_ = packet.timestamp;
  }
  bool fine = true;
  if (packet.payloadSize > 0) {
    const uint8_t type = nalType(packet.payload[0]);
    if (type >= 1 && type <= 23)
      fine = takeSingle(packet.payload, packet.payloadSize);
    else if (type == kStapA)
      fine = takeAggregate(packet.payload, packet.payloadSize);
    else if (type == kFuA)
      fine = takeFragment(packet.payload, packet.payloadSize);
    // other aggregation and fragment kinds are not used over interleaved RTSP: ignored
  }
  if (!fine) {
    unitBroken_ = true;
    inFragment_ = false;
    fragment_.clear();
    waitForKey_ = true;
    closeUnit();
    return false;
  }
  if (packet.marker) closeUnit();
  return true;
}

bool H264Assembler::takeSingle(const uint8_t* nal, size_t size) { return addNal(nal, size); }

bool H264Assembler::takeAggregate(const uint8_t* payload, size_t size) {
  size_t at = 1;
  while (at + 2 <= size) {
    const size_t length = (payload[at] << 8) | payload[at + 1];
    at += 2;
    if (length == 0 || length > size - at) {
      unitBroken_ = true;  // a length running past the packet: the unit is damaged
      return true;
    }
    if (!addNal(payload + at, length)) return false;
    at += length;
  }
  return true;
}

bool H264Assembler::takeFragment(const uint8_t* payload, size_t size) {
  if (size < 2) return true;
  const bool start = (payload[1] & 0x80) != 0;
  const bool end = (payload[1] & 0x40) != 0;
  if (start) {
    if (inFragment_) unitBroken_ = true;  // the previous fragment never ended
    fragment_.clear();
    fragment_.push_back(static_cast<uint8_t>((payload[0] & 0xe0) | (payload[1] & 0x1f)));
    inFragment_ = true;
  } else if (!inFragment_) {
    unitBroken_ = true;  // a middle or end without its start
    return true;
  }
  if (fragment_.size() + size - 2 > kMaxNalUnit) return false;
  fragment_.insert(fragment_.end(), payload + 2, payload + size);
  if (!end) return true;
  inFragment_ = false;
  const bool fine = addNal(fragment_.data(), fragment_.size());
  fragment_.clear();
  return fine;
}

bool H264Assembler::addNal(const uint8_t* nal, size_t size) {
  if (size == 0) return true;
  if (size > kMaxNalUnit || unit_.size() + size + sizeof kStartCode > kMaxAccessUnit) return false;
  const uint8_t type = nalType(nal[0]);
  // Parameter sets are kept, not copied: every key frame gets the latest ones in front.
  if (type == kSps) {
    sps_.assign(reinterpret_cast<const char*>(nal), size);
    return true;
  }
  if (type == kPps) {
    pps_.assign(reinterpret_cast<const char*>(nal), size);
    return true;
  }
  if (type == kIdr) unitKey_ = true;
  if (type >= 1 && type <= kIdr) unitHasSlice_ = true;
  appendAnnexB(unit_, nal, size);
  return true;
}

void H264Assembler::appendAnnexB(std::vector<uint8_t>& out, const uint8_t* nal, size_t size) const {
  out.insert(out.end(), kStartCode, kStartCode + sizeof kStartCode);
  out.insert(out.end(), nal, nal + size);
}

void H264Assembler::dropUnit() {
  ++dropped_;
  if (onDrop_) onDrop_();
}

void H264Assembler::closeUnit() {
  const bool hadPicture = unitHasSlice_;
  const bool broken = unitBroken_ || inFragment_;
  const bool key = unitKey_;
  if (inFragment_) {  // a unit cannot end inside a NAL unit
    inFragment_ = false;
    fragment_.clear();
    waitForKey_ = true;
  }
  const bool decodable = !broken && (key ? (!sps_.empty() && !pps_.empty()) : !waitForKey_);
  if (broken) waitForKey_ = true;
  if (hadPicture && decodable) {
    output_.clear();
    if (key) {
      appendAnnexB(output_, reinterpret_cast<const uint8_t*>(sps_.data()), sps_.size());
      appendAnnexB(output_, reinterpret_cast<const uint8_t*>(pps_.data()), pps_.size());
    }
    output_.insert(output_.end(), unit_.begin(), unit_.end());
    if (key) waitForKey_ = false;
    ++delivered_;
    if (onFrame_) onFrame_(AccessUnit{output_.data(), output_.size(), key, unitTimestamp_});
  } else if (hadPicture || broken) {
    dropUnit();
  }
  unit_.clear();
  unitOpen_ = unitBroken_ = unitKey_ = unitHasSlice_ = false;
}

}  // namespace rtsp
}  // namespace Talvo
