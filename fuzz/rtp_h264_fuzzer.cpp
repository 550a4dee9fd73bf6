// RTP packets of an H.264 stream: the input is a list of packets, each preceded by a two-byte
// length. Every delivered unit is Annex-B and within the cap; a key frame begins with its SPS.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Nuvlet/include/RtpH264.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Talvo::rtsp::H264Assembler;
  H264Assembler assembler(
      [](const Talvo::rtsp::AccessUnit& unit) {
        if (unit.size < 5 || unit.size > H264Assembler::kMaxAccessUnit) std::abort();
        if (std::memcmp(unit.data, "\0\0\0\1", 4) != 0) std::abort();
        if (unit.key && (unit.data[4] & 0x1f) != 7) std::abort();  // a key frame begins with its SPS
      },
      [] {});
  size_t at = 0;
  while (at + 2 <= size) {
    const size_t length = (data[at] << 8) | data[at + 1];
    at += 2;
    if (length > size - at) break;
    Talvo::rtsp::RtpPacket packet;
    if (Talvo::rtsp::parseRtpPacket(data + at, length, packet)) {
      if (packet.payload < data + at || packet.payload + packet.payloadSize > data + at + length) std::abort();
      if (!assembler.push(packet)) break;
    }
    at += length;
  }
  return 0;
}
