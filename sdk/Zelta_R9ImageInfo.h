// The header blocks of one picture: the "#:R9IMG" text header (sections of key=value lines and
// windows) and the "ZLF" information block (time stamps and records), both carried in COM
// segments. Every length read from the picture is checked against the bytes that are there.
// One object per SDK instance, reused for every picture on the SDK's thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Zelta_R9ImageWindowInfo.h"

namespace Zelta {

struct Zelta_ImageTime {
  int64_t seconds = 0;
  int64_t microseconds = 0;
  bool operator==(const Zelta_ImageTime& o) const { return seconds == o.seconds && microseconds == o.microseconds; }
};

// A packed ZLF record (types 8 and 14): its fields in record order. A field lies beyond a short
// record when its bit in `present` is clear; it is then 0.
template <size_t N>
struct Zelta_ZLFRecord {
  std::array<int64_t, N> fields{};
  unsigned present = 0;
};
using Zelta_ZLFRecord8 = Zelta_ZLFRecord<5>;
using Zelta_ZLFRecord14 = Zelta_ZLFRecord<6>;

class Zelta_R9ImageInfo {
 public:
  using Section = std::map<std::string, std::string>;
  static constexpr const char* kLegacyCommentPrefix = "ZL-COMMENT-V1.7-DATA";

  virtual ~Zelta_R9ImageInfo() = default;

  // Finds the COM blocks of a whole picture and parses them: 1 with a text header, 0 with only
  // an information block, 2 with neither.
  int parseFrame(const uint8_t* jpeg, size_t length);
  // Parses blocks already located (COM payloads from their prefix on; null when absent), with the
  // same results as parseFrame.
  int parseBlocks(const uint8_t* textHeader, size_t textLength, const uint8_t* infoBlock, size_t infoLength);

  const std::map<std::string, Section>& sections() const { return m_sections; }
  const std::map<std::string, std::vector<std::shared_ptr<Zelta_R9ImageWindowInfo>>>& windows() const {
    return m_windows;
  }
  // Section "FINGERPRINT", key "IMT" of the last text header; empty without one.
  const std::string& fingerprintImageType() const { return m_fingerprintImageType; }
  const Zelta_ImageTime& frameTime() const { return m_frameTime; }
  const Zelta_ImageTime& secondTime() const { return m_secondTime; }
  uint64_t recordValue() const { return m_recordValue; }
  const std::vector<std::shared_ptr<Zelta_ZLFRecord8>>& records8() const { return m_records8; }
  const std::vector<std::shared_ptr<Zelta_ZLFRecord14>>& records14() const { return m_records14; }

 private:
  void reset();
  void parseTextHeader(const uint8_t* block, size_t length);
  void parseInfoBlock(const uint8_t* block, size_t length);
  // Decodes one record of `available` bytes (its length byte may claim more).
  void parseRecord(const uint8_t* record, size_t available);

  std::map<std::string, Section> m_sections;
  std::map<std::string, std::vector<std::shared_ptr<Zelta_R9ImageWindowInfo>>> m_windows;
  std::string m_fingerprintImageType;
  Zelta_ImageTime m_frameTime;
  Zelta_ImageTime m_secondTime;
  uint64_t m_recordValue = 0;
  std::vector<std::shared_ptr<Zelta_ZLFRecord8>> m_records8;
  std::vector<std::shared_ptr<Zelta_ZLFRecord14>> m_records14;
};

}  // namespace Zelta
