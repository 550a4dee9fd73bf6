// Vantrel::HttpConnector: reads one answer of the camera's recording endpoint, a single JPEG
// (seek) or a Zelta stream (play), and hands its pictures and audio to a sink.
//
// The bytes hold blocks one after another:
//   FF D8 ... FF D9   a picture. Its COM segments before the scan carry a "ZLF" information
//                     block (time stamp in microseconds) and a "#:R9IMG" text header with the
//                     recording's items: TIT (picture time, decimal seconds), ENO (event
//                     number), FFR/LFR (first/last frame number), FCO (frame count), FTI/LTI.
//   FF ED len ...     an audio block (APP13): 16-byte header, then samples. Header: marker,
//                     16-bit big-endian length counting itself and the rest, a 4-character
//                     codec tag ("ULAW", "ALAW", "L16 " little-endian linear), 32-bit sample
//                     rate, 32-bit block sequence.
// Anything between blocks is dropped. Until a picture with its own tables (a key picture) went
// out, delta pictures are dropped. A block may hold at most the cap given at construction; a
// longer one ends the answer with response_too_large (264).
//
// Threads: one thread (the playback's worker) calls every member. The sink is called inside
// process().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <boost/system/error_code.hpp>

#include "host/Nuvlet/Logging.h"
#include "host/Nuvlet/Statistics.h"

namespace Vantrel {

// The samples of one audio block as the host takes them.
struct PlaybackAudioFormat {
  int32_t encoding = 0;  // Talvo::MFF::AUDIO_G7XX_ENCODING_*
  int32_t sampleRate = 0;
  size_t unitSize = 1;        // bytes of one sample unit
  bool littleEndian = false;  // linear samples in the camera's byte order
};

class PlaybackSink {
 public:
  virtual ~PlaybackSink() = default;
  // `key`: the picture carries its own tables. `timeStamp`: ms since 1970.
  virtual void videoFrame(const uint8_t* data, size_t size, bool key, uint64_t timeStamp) = 0;
  // `size` is a whole number of sample units.
  virtual void audioFrame(const uint8_t* data, size_t size, const PlaybackAudioFormat& format, uint64_t timeStamp) = 0;
};

class HttpConnector {
 public:
  enum class Kind { SingleImage, Stream };
  // As the live source caps one part of its stream.
  static constexpr size_t kMaxBlockSize = 32u * 1024 * 1024;
  static constexpr size_t kAudioHeaderSize = 16;
  // The most bytes a "Drop" line shows.
  static constexpr size_t kMaxDroppedBytesShown = 64;

  // `sink` (may be null) outlives the connector. `video`/`audio`: the host asked for the track.
  HttpConnector(Kind kind, const Talvo::LoggerOwner& logger, PlaybackSink* sink, bool video, bool audio,
                size_t maxBlockSize = kMaxBlockSize);

  // One piece of the answer. An error ends the answer (a block past the cap).
  boost::system::error_code process(const uint8_t* data, size_t size);

  Kind kind() const { return kind_; }
  const char* codec() const { return kind_ == Kind::SingleImage ? "MJPEG" : "Zelta"; }
  // The event number of the last picture that named one; -1 before.
  int64_t eventNumber() const { return eventNumber_; }
  uint64_t timeStamp() const { return timeStamp_; }
  uint64_t videoFrames() const { return videoFrames_; }
  uint64_t audioFrames() const { return audioFrames_; }
  // "\tvideo:<n> received, <line>\n\taudio:<n> received, <line>" at `nowMs`.
  std::string statistics(uint64_t nowMs);

 private:
  const uint8_t* begin() const { return buffer_.data() + start_; }
  size_t pending() const { return buffer_.size() - start_; }
  void consume(size_t count);
  void drop(size_t count);
  // Handles the block at the front; false when it needs more bytes.
  bool takeAudioBlock();
  bool takeVideoBlock();
  void processAudio(const uint8_t* block, size_t size);
  void processVideo(const uint8_t* picture, size_t size);
  // False when the picture must be dropped.
  bool processComments(const uint8_t* picture, size_t size);
  bool processComment(const uint8_t* text, size_t size);
  bool processImageHeader(const uint8_t* text, size_t size);
  void logIncomplete(const char* what, size_t size, size_t missing);

  const Kind kind_;
  Talvo::LoggerOwner logger_;
  PlaybackSink* sink_;
  const bool video_;
  const bool audio_;
  const size_t maxBlockSize_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;    // bytes before it are handled
  size_t scanned_ = 0;  // the picture at the front has no end of image before this offset
  int64_t eventNumber_ = -1;
  uint64_t timeStamp_ = 0;
  bool keySent_ = false;
  uint64_t videoFrames_ = 0;
  uint64_t audioFrames_ = 0;
  Talvo::Utility::FramesStatistic videoStatistic_{"video", {}};
  Talvo::Utility::FramesStatistic audioStatistic_{"audioG7x", {}};
};

}  // namespace Vantrel
