// Builds event-stream bytes as a camera sends them: JPEG pictures with their marker segments and
// COM blocks ("#:R9IMG" text, "ZLF" time block, "ZLT" thermal blocks), APP11 audio and APP12
// control segments. Header-only; shared by the tests, the fuzz seeds and the benchmarks.
#pragma once

#include <lz4.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace streambuilder {

// A marker segment: 0xFF, marker, big-endian length (counting itself), payload.
inline std::string segment(uint8_t marker, const std::string& payload) {
  const size_t length = payload.size() + 2;
  std::string out{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
  return out + payload;
}
inline std::string control(const std::string& text) { return segment(0xEC, text); }
inline std::string audio(const std::string& payload) { return segment(0xEB, payload); }
inline std::string com(const std::string& payload) { return segment(0xFE, payload); }

inline void putLE(std::string& out, size_t offset, uint64_t value, int bytes) {
  if (out.size() < offset + bytes) out.resize(offset + bytes, '\0');
  for (int i = 0; i < bytes; ++i) out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A ZLF block payload: "ZLF\0", version 2.<minor>, time stamp, and records (each already with
// its type and length bytes; the "another follows" bit is set here).
inline std::string zlf(uint64_t timeUs, std::vector<std::string> records = {}, int major = 2, int minor = 0) {
  std::string block("ZLF\0", 4);
  block.resize(24, '\0');
  block[4] = static_cast<char>((major & 7) | ((minor & 7) << 3) | (records.empty() ? 0 : 0x80));
  putLE(block, 8, timeUs, 8);
  for (size_t i = 0; i < records.size(); ++i) {
    std::string record = records[i];
    if (record.size() >= 2 && i + 1 < records.size()) record[1] = static_cast<char>(record[1] | 0x80);
    block += record;
  }
  return block;
}

// A ZLF record of `length` bytes (type, length byte, zero body).
inline std::string zlfRecord(uint8_t type, uint8_t length) {
  std::string record(length < 2 ? 2 : length, '\0');
  record[0] = static_cast<char>(type);
  record[1] = static_cast<char>(length & 0x7F);
  return record;
}

struct ThermalBlock {
  int version = 0, index = 0;
  bool compressed = false;
  int sensor = 0, bitDepth = 0;
  bool advancedRadiometry = true, gainFlag = true;  // gainFlag set: gain 0
  unsigned width = 0, height = 0;
};

// A ZLT block payload (from "ZLT\0" on): header bytes 8-11 of the segment, then the pixel data.
inline std::string zlt(const ThermalBlock& b, const std::string& data) {
  std::string block("ZLT\0", 4);
  block +=
      static_cast<char>((b.version & 3) | ((b.index & 15) << 2) | (b.compressed ? 0x40 : 0) | (b.sensor ? 0x80 : 0));
  block += static_cast<char>((b.bitDepth & 3) | (b.advancedRadiometry ? 4 : 0) | (b.gainFlag ? 8 : 0) |
                             ((b.width & 15) << 4));
  block += static_cast<char>(((b.width >> 4) & 63) | ((b.height & 3) << 6));
  block += static_cast<char>((b.height >> 2) & 0xFF);
  return block + data;
}

// The ZLT COM segments of one sensor's frame: raw values (row order) as two byte planes (all low
// bytes, then all high bytes), LZ4-compressed when asked, split into `blocks` blocks numbered
// from 0 (more when a block would not fit into one segment).
inline std::vector<std::string> thermalSegments(ThermalBlock header, const std::vector<uint16_t>& raw, int blocks = 1) {
  std::string planes(raw.size() * 2, '\0'), payload(raw.size() * 2, '\0');
  for (size_t i = 0; i < raw.size(); ++i) {
    planes[i] = payload[2 * i] = static_cast<char>(raw[i] & 0xFF);
    planes[raw.size() + i] = payload[2 * i + 1] = static_cast<char>(raw[i] >> 8);
  }
  if (header.compressed) {
    payload.resize(LZ4_compressBound(static_cast<int>(planes.size())));
    const int size = LZ4_compress_default(planes.data(), &payload[0], static_cast<int>(planes.size()),
                                          static_cast<int>(payload.size()));
    payload.resize(size > 0 ? size : 0);
  }
  std::vector<std::string> segments;
  constexpr size_t kMaxBlockData = 65000;  // a COM segment holds at most 65 533 payload bytes
  blocks = std::max<int>(blocks, static_cast<int>((payload.size() + kMaxBlockData - 1) / kMaxBlockData));
  const size_t piece = (payload.size() + blocks - 1) / blocks;
  for (int i = 0; i < blocks; ++i) {
    header.index = i;
    const size_t from = std::min(payload.size(), i * piece);
    segments.push_back(com(zlt(header, payload.substr(from, piece))));
  }
  return segments;
}

// Raw values of a scene at `celsius` (gain 0: 0.04 °C per step above -273.15 °C).
inline uint16_t rawFor(double celsius) { return static_cast<uint16_t>((celsius + 273.15) / 0.04 + 0.5); }

// A whole picture: SOI, APP0, the COM payloads, DQT (with 0xFF 0xD9 pairs a scan must skip), SOF0,
// DHT, SOS, `scanBytes` of scan data (every 0xFF followed by a stuffed 0x00), EOI.
inline std::string picture(const std::vector<std::string>& comPayloads, size_t scanBytes, uint32_t seed = 1) {
  std::string out("\xFF\xD8", 2);
  out += segment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
  for (const auto& payload : comPayloads) out += com(payload);
  std::string table(1, '\0');
  for (int i = 0; i < 32; ++i) table += std::string("\xFF\xD9", 2);  // an end pair a scan must not see
  out += segment(0xDB, table);
  out += segment(0xC0, std::string("\x08\x04\x38\x07\x80\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 15));
  out += segment(0xC4, std::string(1, '\0') + std::string(16, '\x01') + std::string(16, '\xD9'));
  out += segment(0xDA, std::string("\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 10));
  std::mt19937 random(seed);
  for (const size_t start = out.size(); out.size() - start < scanBytes;) {
    out += static_cast<char>(random() & 0xFF);
    if (out.back() == '\xFF') out += '\0';
  }
  return out + std::string("\xFF\xD9", 2);
}

}  // namespace streambuilder
