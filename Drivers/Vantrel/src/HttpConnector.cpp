#include "HttpConnector.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

#include <boost/format.hpp>

#include "ByteSearch.h"
#include "PictureCheck.h"
#include "RecordingList.h"
#include "Zelta_R9ImageInfo.h"
#include "host/MFF.h"
#include "host/Nuvlet/ErrorCodes.h"
#include "host/Nuvlet/NumberText.h"
#include "host/Nuvlet/Time.h"

namespace Vantrel {

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kAudioMarker = 0xED;
constexpr uint8_t kComment = 0xFE;
constexpr size_t kMinInfoBlockSize = 64;
const char kInfoPrefix[] = "ZLF";
const char kImageHeaderPrefix[] = "#:R9IMG";

size_t bigEndian16(const uint8_t* at) { return (static_cast<size_t>(at[0]) << 8) | at[1]; }

uint32_t bigEndian32(const uint8_t* at) {
  return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
         (static_cast<uint32_t>(at[2]) << 8) | at[3];
}

bool startsWith(const uint8_t* data, size_t size, const char* prefix) {
  const size_t length = std::strlen(prefix);
  return size >= length && std::memcmp(data, prefix, length) == 0;
}

// At most kMaxDroppedBytesShown bytes in hex, "..." when there were more.
std::string hexPreview(const uint8_t* data, size_t size) {
  std::string text;
  const size_t shown = std::min(size, HttpConnector::kMaxDroppedBytesShown);
  for (size_t i = 0; i < shown; ++i) text += (boost::format("%02x") % static_cast<unsigned>(data[i])).str();
  if (shown < size) text += "...";
  return text;
}

std::optional<PlaybackAudioFormat> audioFormatOf(const uint8_t* tag, uint32_t rate) {
  PlaybackAudioFormat format;
  // The block's rate is unsigned 32-bit; whatever the camera names stays within the host's int.
  format.sampleRate = static_cast<int32_t>(std::min<uint32_t>(rate, std::numeric_limits<int32_t>::max()));
  if (std::memcmp(tag, "ULAW", 4) == 0) {
    format.encoding = Talvo::MFF::AUDIO_G7XX_ENCODING_ULAW;
  } else if (std::memcmp(tag, "ALAW", 4) == 0) {
    format.encoding = Talvo::MFF::AUDIO_G7XX_ENCODING_ALAW;
  } else if (std::memcmp(tag, "L16 ", 4) == 0) {
    format.encoding = Talvo::MFF::AUDIO_G7XX_ENCODING_LINEAR;
    format.unitSize = 2;
    format.littleEndian = true;
  } else {
    return std::nullopt;
  }
  return format;
}

// The value of `key` in any section of the text header.
std::optional<std::string> itemOf(const Zelta::Zelta_R9ImageInfo& header, const std::string& key) {
  for (const auto& section : header.sections()) {
    const auto found = section.second.find(key);
    if (found != section.second.end()) return found->second;
  }
  return std::nullopt;
}

std::optional<uint64_t> secondsItem(const Zelta::Zelta_R9ImageInfo& header, const std::string& key) {
  const auto text = itemOf(header, key);
  if (!text) return std::nullopt;
  try {
    return secondsToMilliseconds(Talvo::Utility::stringToDouble(*text));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<int64_t> numberItem(const Zelta::Zelta_R9ImageInfo& header, const std::string& key) {
  const auto text = itemOf(header, key);
  if (!text) return std::nullopt;
  try {
    size_t used = 0;
    const long long value = std::stoll(*text, &used);
    if (used != text->size()) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// last - first + 1 without overflow on whatever numbers the camera sends.
int64_t frameSpan(int64_t first, int64_t last) {
  return static_cast<int64_t>(static_cast<uint64_t>(last) - static_cast<uint64_t>(first) + 1);
}

}  // namespace

HttpConnector::HttpConnector(Kind kind, const Talvo::LoggerOwner& logger, PlaybackSink* sink, bool video, bool audio,
                             size_t maxBlockSize)
    : kind_(kind), logger_(logger), sink_(sink), video_(video), audio_(audio), maxBlockSize_(maxBlockSize) {}

boost::system::error_code HttpConnector::process(const uint8_t* data, size_t size) {
  if (size != 0) buffer_.insert(buffer_.end(), data, data + size);
  while (pending() >= 2) {
    const uint8_t* bytes = begin();
    const size_t count = pending();
    size_t at = 0;
    while (at + 1 < count &&
           !(bytes[at] == kMarker && (bytes[at + 1] == kStartOfImage || bytes[at + 1] == kAudioMarker)))
      ++at;
    if (at + 1 >= count) {
      // No block starts here; a last FF may begin one.
      drop(bytes[count - 1] == kMarker ? count - 1 : count);
      break;
    }
    if (at != 0) {
      drop(at);
      continue;
    }
    const bool taken = bytes[1] == kAudioMarker ? takeAudioBlock() : takeVideoBlock();
    if (!taken) break;
  }
  if (start_ != 0 && (start_ == buffer_.size() || start_ > buffer_.size() / 2)) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  if (pending() > maxBlockSize_) {
    NLOG(logger_, 3, " Block of more than " << maxBlockSize_ << " bytes without its end, the stream is broken");
    return Talvo::error::make_error_code(Talvo::error::response_too_large);
  }
  return {};
}

void HttpConnector::consume(size_t count) {
  start_ += std::min(count, pending());
  scanned_ = 0;
}

void HttpConnector::drop(size_t count) {
  if (count == 0) return;
  NLOG(logger_, 3, " TRACE: Drop " << count << " bytes: " << hexPreview(begin(), count));
  consume(count);
}

void HttpConnector::logIncomplete(const char* what, size_t size, size_t missing) {
  NLOG(logger_, 3,
       " TRACE: " << what << " block size = " << size << ", left=" << missing << ": "
                  << hexPreview(begin(), std::min(size, pending())));
}

bool HttpConnector::takeAudioBlock() {
  const uint8_t* bytes = begin();
  const size_t count = pending();
  if (count < 4) return false;
  const size_t size = 2 + bigEndian16(bytes + 2);
  if (size < kAudioHeaderSize) {
    drop(2);  // a length that cannot hold the header: not an audio block
    return true;
  }
  if (count < size) {
    logIncomplete("Audio", size, size - count);
    return false;
  }
  processAudio(bytes, size);
  consume(size);
  return true;
}

bool HttpConnector::takeVideoBlock() {
  const uint8_t* bytes = begin();
  const size_t count = pending();
  static constexpr uint8_t kEnd[] = {kMarker, kEndOfImage};
  Needle end{kEnd, sizeof kEnd};
  // Resumes one byte before the last scan's end: a marker may straddle two receives.
  findNeedles(bytes, std::max<size_t>(2, scanned_ == 0 ? 0 : scanned_ - 1), count, &end, 1);
  if (end.at == Needle::kNotFound) {
    scanned_ = count;
    NLOG(logger_, 3, " TRACE: Video block size =" << count << ", left=unknown");
    return false;
  }
  processVideo(bytes, end.at + 2);
  consume(end.at + 2);
  return true;
}

void HttpConnector::processAudio(const uint8_t* block, size_t size) {
  ++audioFrames_;
  if (eventNumber_ < 0 || !audio_) return;
  const auto format = audioFormatOf(block + 4, bigEndian32(block + 8));
  if (!format) {
    NLOG(logger_, 2, " Unknown audio codec '" << std::string(reinterpret_cast<const char*>(block + 4), 4) << "'");
    return;
  }
  size_t payload = size - kAudioHeaderSize;
  payload -= payload % format->unitSize;
  if (payload == 0) return;
  audioStatistic_.onFrame(payload, true);
  if (sink_) sink_->audioFrame(block + kAudioHeaderSize, payload, *format, timeStamp_);
}

void HttpConnector::processVideo(const uint8_t* picture, size_t size) {
  ++videoFrames_;
  if (!processComments(picture, size)) return;
  const ZeltaFrameKind frameKind = zeltaFrameKind(picture, size);
  if (frameKind == ZeltaFrameKind::NotAFrame) return;
  const bool key = frameKind == ZeltaFrameKind::WithTables;
  if (!keySent_ && !key) return;  // a delta picture needs the tables of a key picture before it
  if (!video_) return;
  keySent_ = true;
  videoStatistic_.onFrame(size, key);
  if (sink_) sink_->videoFrame(picture, size, key, timeStamp_);
}

bool HttpConnector::processComments(const uint8_t* picture, size_t size) {
  size_t at = 2;
  while (at + 4 <= size && picture[at] == kMarker) {
    const uint8_t marker = picture[at + 1];
    if (marker == kStartOfScan || marker == kEndOfImage) break;
    const size_t length = bigEndian16(picture + at + 2);
    if (length < 2 || at + 2 + length > size) break;
    if (marker == kComment && !processComment(picture + at + 4, length - 2)) return false;
    at += 2 + length;
  }
  return true;
}

bool HttpConnector::processComment(const uint8_t* text, size_t size) {
  if (startsWith(text, size, kInfoPrefix) && size >= kMinInfoBlockSize) {
    Zelta::Zelta_R9ImageInfo info;
    info.parseBlocks(nullptr, 0, text, size);
    const Zelta::Zelta_ImageTime& time = info.frameTime();
    timeStamp_ = static_cast<uint64_t>(time.seconds) * 1000 + static_cast<uint64_t>(time.microseconds) / 1000;
    NLOG(logger_, 3, " TRACE: ZLF header received, ts= " << Talvo::Utility::timestampToString(timeStamp_));
    return true;
  }
  if (startsWith(text, size, kImageHeaderPrefix)) return processImageHeader(text, size);
  return true;
}

bool HttpConnector::processImageHeader(const uint8_t* text, size_t size) {
  Zelta::Zelta_R9ImageInfo header;
  header.parseBlocks(text, size, nullptr, 0);
  const auto time = secondsItem(header, "TIT");
  if (!time) {
    NLOG(logger_, 3, " Cannot get timestamp, stream will be skipped");
    return false;
  }
  const auto event = numberItem(header, "ENO");
  if (!event) {
    NLOG(logger_, 3, " Cannot get eventId, stream will be skipped");
    return false;
  }
  timeStamp_ = *time;
  if (*event == eventNumber_) return true;
  eventNumber_ = *event;
  NLOG(logger_, 3,
       " TRACE: Receiving of event '" << eventNumber_ << ". Event time= " << Talvo::Utility::timestampToString(*time));
  const int64_t first = numberItem(header, "FFR").value_or(0);
  const int64_t last = numberItem(header, "LFR").value_or(0);
  NLOG(logger_, 0,
       " part of " << eventNumber_ << "[" << Talvo::Utility::timestampToString(secondsItem(header, "FTI").value_or(0))
                   << "," << Talvo::Utility::timestampToString(secondsItem(header, "LTI").value_or(0)) << "], "
                   << "<" << first << "," << last << "> = " << frameSpan(first, last) << ", "
                   << numberItem(header, "FCO").value_or(0) << " frames are expected");
  return true;
}

std::string HttpConnector::statistics(uint64_t nowMs) {
  return "\tvideo:" + std::to_string(videoFrames_) + " received, " +
         videoStatistic_.getFramesStatistic(nowMs, 0, false) + "\n" + "\taudio:" + std::to_string(audioFrames_) +
         " received, " + audioStatistic_.getFramesStatistic(nowMs, 0, false);
}

}  // namespace Vantrel
