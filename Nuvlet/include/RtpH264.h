// RTP packets carrying H.264 (RFC 6184) turned into whole access units in Annex-B form: single
// NAL units, STAP-A and FU-A are taken apart, units are closed by the marker bit or a new time
// stamp, every key frame begins with its SPS and PPS (the stream's latest, else the SDP's). A lost packet (a gap in the
// sequence numbers) drops the broken unit and every delta frame after it until the next key frame, so nothing
// undecodable leaves the assembler. A packet up to kMaxMisorder behind the last one is late and
// ignored; a jump of the sequence number (forwards by 32768 or more, backwards further than that,
// or more than kMaxMisorder "late" packets in a row, as after a server restart or a new SSRC)
// starts the count again from that packet, like a loss.
//
// Pure, no I/O: the RTSP client feeds it; tests and the fuzz target feed it bytes directly.
// Threads: one owner thread calls every member. Declarations only; implemented in libNuvlet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Talvo {
namespace rtsp {

struct RtpPacket {
  uint8_t payloadType = 0;
  bool marker = false;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  const uint8_t* payload = nullptr;
  size_t payloadSize = 0;
};

// Reads the fixed header, the CSRC list, a header extension and padding of [data, data+size).
// False when the packet is not RTP version 2 or its lengths run past its end.
bool parseRtpPacket(const uint8_t* data, size_t size, RtpPacket& packet);

struct AccessUnit {
  const uint8_t* data = nullptr;  // Annex-B bytes, valid during the callback only
  size_t size = 0;
  bool key = false;
  uint32_t rtpTimestamp = 0;
};

class H264Assembler {
 public:
  // A NAL unit and an access unit are capped; a larger one is a stream error.
  static constexpr size_t kMaxNalUnit = 4u * 1024 * 1024;
  static constexpr size_t kMaxAccessUnit = 8u * 1024 * 1024;
  // How far behind the last packet a packet counts as late rather than as a jump back.
  static constexpr uint16_t kMaxMisorder = 100;

  using FrameCallback = std::function<void(const AccessUnit& unit)>;
  // Called once for each access unit that is dropped (broken, or a delta frame without its key frame).
  using DropCallback = std::function<void()>;

  H264Assembler(FrameCallback onFrame, DropCallback onDrop);

  // Parameter sets known before the stream (the SDP's sprop-parameter-sets).
  void setParameterSets(const std::vector<std::string>& nalUnits);
  // Takes one packet of the stream. False when a cap was exceeded: the session must end.
  bool push(const RtpPacket& packet);

  uint64_t droppedUnits() const { return dropped_; }
  uint64_t deliveredUnits() const { return delivered_; }

 private:
  // The sequence number of `packet` against the last one: false for a late packet to ignore;
  // after a loss or a jump, the open unit is broken and no delta frame follows until a key frame.
  bool takeSequence(const RtpPacket& packet);
  bool takeSingle(const uint8_t* nal, size_t size);
  bool takeAggregate(const uint8_t* payload, size_t size);
  bool takeFragment(const uint8_t* payload, size_t size);
  bool addNal(const uint8_t* nal, size_t size);
  void closeUnit();
  void dropUnit();
  void appendAnnexB(std::vector<uint8_t>& out, const uint8_t* nal, size_t size) const;

  FrameCallback onFrame_;
  DropCallback onDrop_;
  std::string sps_;
  std::string pps_;
  std::vector<uint8_t> unit_;      // NAL units of the open access unit, Annex-B
  std::vector<uint8_t> fragment_;  // the FU-A NAL unit being rebuilt
  std::vector<uint8_t> output_;
  bool inFragment_ = false;
  bool unitOpen_ = false;
  bool unitBroken_ = false;
  bool unitKey_ = false;
  bool unitHasSlice_ = false;  // a coded picture, not only parameter sets
  uint32_t unitTimestamp_ = 0;
  bool haveSequence_ = false;
  uint16_t lastSequence_ = 0;
  uint16_t lateInARow_ = 0;
  bool waitForKey_ = true;  // nothing decodes before the first key frame
  uint64_t dropped_ = 0;
  uint64_t delivered_ = 0;
};

}  // namespace rtsp
}  // namespace Talvo
