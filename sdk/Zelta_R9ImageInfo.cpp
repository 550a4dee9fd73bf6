#include "Zelta_R9ImageInfo.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

#include "Zelta_LittleEndian.h"
#include "Zelta_Print.h"

namespace Zelta {
namespace {

constexpr char kTextPrefix[] = "#:R9IMG";
constexpr char kInfoPrefix[] = "ZLF";
constexpr size_t kInfoHeaderSize = 16;  // through the time stamp
constexpr size_t kFirstRecord = 24;

bool hasPrefix(const uint8_t* payload, size_t length, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(payload, prefix, n) == 0;
}

Zelta_ImageTime timeOf(uint64_t microseconds) {
  return {static_cast<int64_t>(microseconds / 1000000), static_cast<int64_t>(microseconds % 1000000)};
}

// A little-endian bit range of a record, or nothing when the record is too short to hold it.
struct BitField {
  size_t firstBit;
  size_t bits;
  bool isSigned;
};

bool readField(const uint8_t* record, size_t available, const BitField& field, int64_t& out) {
  const size_t lastBit = field.firstBit + field.bits - 1;
  if (lastBit / 8 >= available) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < field.bits; ++i) {
    const size_t bit = field.firstBit + i;
    value |= static_cast<uint64_t>((record[bit / 8] >> (bit % 8)) & 1) << i;
  }
  if (field.isSigned && (value >> (field.bits - 1)) & 1) value |= ~uint64_t{0} << field.bits;
  out = static_cast<int64_t>(value);
  return true;
}

template <size_t N>
std::shared_ptr<Zelta_ZLFRecord<N>> readFields(const uint8_t* record, size_t available,
                                               const std::array<BitField, N>& layout) {
  auto decoded = std::make_shared<Zelta_ZLFRecord<N>>();
  for (size_t i = 0; i < N; ++i)
    if (readField(record, available, layout[i], decoded->fields[i])) decoded->present |= 1u << i;
  return decoded;
}

constexpr std::array<BitField, 5> kRecord8 = {
    {{16, 4, false}, {225, 4, false}, {32, 32, false}, {64, 13, false}, {77, 17, false}}};
constexpr std::array<BitField, 6> kRecord14 = {
    {{20, 3, false}, {32, 13, false}, {45, 13, false}, {58, 13, false}, {71, 11, true}, {82, 11, true}}};

std::string rstrip(std::string line) {
  const size_t end = line.find_last_not_of(" \n\r\t");
  line.erase(end == std::string::npos ? 0 : end + 1);
  return line;
}

}  // namespace

void Zelta_R9ImageInfo::reset() {
  m_sections.clear();
  m_windows.clear();
  m_fingerprintImageType.clear();
  m_frameTime = {};
  m_secondTime = {};
  m_recordValue = 0;
  m_records8.clear();
  m_records14.clear();
}

int Zelta_R9ImageInfo::parseFrame(const uint8_t* jpeg, size_t length) {
  const uint8_t* text = nullptr;
  const uint8_t* info = nullptr;
  size_t textLength = 0, infoLength = 0;
  size_t pos = 0;
  while (jpeg && pos + 4 <= length) {
    const auto* ff = static_cast<const uint8_t*>(std::memchr(jpeg + pos, 0xFF, length - pos));
    if (!ff) break;
    pos = static_cast<size_t>(ff - jpeg);
    if (pos + 4 > length) break;
    if (jpeg[pos + 1] != 0xFE) {
      ++pos;
      continue;
    }
    const size_t blockLength = 256u * jpeg[pos + 2] + jpeg[pos + 3];
    if (pos + 2 + blockLength > length) break;  // a block cut short ends the search
    const uint8_t* payload = jpeg + pos + 4;
    const size_t payloadLength = blockLength >= 2 ? blockLength - 2 : 0;
    if (hasPrefix(payload, payloadLength, kTextPrefix)) {
      text = payload, textLength = payloadLength;
    } else if (hasPrefix(payload, payloadLength, kInfoPrefix)) {
      info = payload, infoLength = payloadLength;
    } else if (hasPrefix(payload, payloadLength, kLegacyCommentPrefix)) {
      Zelta_Print::message("ZLComment v1.7 not supported!");
    }  // "ZLM" and "ZLT" blocks belong to others
    // The whole block is skipped: binary payloads (thermal data) may hold 0xFF 0xFE.
    pos += 2 + (blockLength >= 2 ? blockLength : 0);
  }
  const int result = parseBlocks(text, textLength, info, infoLength);
  if (result == 2) Zelta_Print::message("no R9IMG and no ZLF headers found!");
  return result;
}

int Zelta_R9ImageInfo::parseBlocks(const uint8_t* textHeader, size_t textLength, const uint8_t* infoBlock,
                                   size_t infoLength) {
  reset();
  if (textHeader) parseTextHeader(textHeader, textLength);
  if (infoBlock) parseInfoBlock(infoBlock, infoLength);
  return textHeader ? 1 : infoBlock ? 0 : 2;
}

namespace {

// A plain window of a section that describes a PTZ view is that view's window.
std::shared_ptr<Zelta_R9ImageWindowInfo> ptzViewOf(const std::shared_ptr<Zelta_R9ImageWindowInfo>& window,
                                                   const Zelta_R9ImageInfo::Section& section) {
  if (typeid(*window) != typeid(Zelta_R9ImageWindowInfo)) return window;
  auto view = Zelta_PTZWindow::fromSection(*window, section);
  return view ? view : window;
}

}  // namespace

void Zelta_R9ImageInfo::parseTextHeader(const uint8_t* block, size_t length) {
  const std::string text(reinterpret_cast<const char*>(block), length);
  bool open = false;
  std::string name;
  Section section;
  std::vector<std::shared_ptr<Zelta_R9ImageWindowInfo>> windows;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = rstrip(text.substr(start, end - start));
    start = end + 1;
    if (line.find("ENDSECTION") != std::string::npos) {
      if (!open) {
        Zelta_Print::message("invalid R9IMG header, found section end without start");
        continue;
      }
      for (auto& window : windows) window = ptzViewOf(window, section);
      m_sections[name] = std::move(section);
      if (!windows.empty()) m_windows[name] = std::move(windows);
      section.clear();
      windows.clear();
      open = false;
    } else if (const size_t at = line.find("SECTION"); at != std::string::npos) {
      if (open) {
        Zelta_Print::message("invalid R9IMG header, found section start while processing another section");
        section.clear();
        windows.clear();
      }
      const size_t nameStart = at + 7 + 1;  // "SECTION" and one separator
      name = nameStart < line.size() ? line.substr(nameStart) : std::string();
      open = true;
    } else if (const size_t eq = line.find('='); open && eq != std::string::npos) {
      const std::string key = line.substr(0, eq);
      const std::string value = line.substr(eq + 1);
      if (key == "WIN")
        windows.push_back(Zelta_R9ImageWindowInfo::parse(value));
      else
        section[key] = value;
    }
  }
  const auto fingerprint = m_sections.find("FINGERPRINT");
  if (fingerprint != m_sections.end() && fingerprint->second.count("IMT"))
    m_fingerprintImageType = fingerprint->second.at("IMT");
}

void Zelta_R9ImageInfo::parseInfoBlock(const uint8_t* block, size_t length) {
  if (length < kInfoHeaderSize) {
    Zelta_Print::message("data missing in ZLF info block");
    return;
  }
  const int major = block[4] & 7;
  const int minor = (block[4] >> 3) & 7;
  if (major != 2) {
    Zelta_Print::message(concat("Unsupported ZLF version ", major, ".", minor));
    return;
  }
  m_frameTime = m_secondTime = timeOf(readLittleEndian(block + 8, 8));
  if (!(block[4] & 0x80)) return;
  size_t offset = kFirstRecord;
  for (;;) {
    if (offset > length || length - offset < 2) {
      Zelta_Print::message("data missing in ZLF info block");
      return;
    }
    const uint8_t* record = block + offset;
    const size_t recordLength = record[1] & 0x7F;
    const bool another = (record[1] & 0x80) != 0;
    if (recordLength == 0) {
      // A zero length would never move on to the next record.
      Zelta_Print::message("invalid ZLF record length 0");
      return;
    }
    const size_t available = std::min(recordLength, length - offset);
    parseRecord(record, available);
    if (available < recordLength) {
      Zelta_Print::message("data missing in ZLF info block");
      return;
    }
    if (!another) return;
    offset += recordLength;
  }
}

void Zelta_R9ImageInfo::parseRecord(const uint8_t* record, size_t available) {
  switch (record[0]) {
    case 1:
      if (available >= 16) m_recordValue = readLittleEndian(record + 8, 8);
      break;
    case 13:
      if (available >= 12) m_secondTime = timeOf(readLittleEndian(record + 4, 8));
      break;
    case 14:
      m_records14.push_back(readFields(record, available, kRecord14));
      break;
    case 8:
      m_records8.push_back(readFields(record, available, kRecord8));
      break;
    default:
      break;
  }
}

}  // namespace Zelta
