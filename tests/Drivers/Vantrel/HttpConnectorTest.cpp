// The recording stream reader, whole and byte by byte: pictures with their headers, audio cut to
// whole sample units, pictures missing recording items, lengths that claim more than there is.
#include "HttpConnector.h"

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CapturingLogger.h"

namespace {

std::string be16(size_t value) { return {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)}; }

std::string comment(const std::string& text) { return "\xFF\xFE" + be16(text.size() + 2) + text; }

std::string header(const std::string& items) {
  return comment("#:R9IMG\nSECTION RECORDING\n" + items + "ENDSECTION RECORDING\n");
}

// A picture with tables (key) or without (delta), carrying `segments` before its tables.
std::string picture(const std::string& segments, bool key) {
  const std::string app0 = std::string("\xFF\xE0\x00\x04\x00\x00", 6);
  const std::string tables = std::string("\xFF\xDB\x00\x05\x00\x01\x02", 7);
  const std::string scan = std::string("\xFF\xDA\x00\x04\x00\x00\x12\xFF\x00\x56", 10);
  return "\xFF\xD8" + app0 + segments + (key ? tables : "") + scan + "\xFF\xD9";
}

std::string audioBlock(const std::string& tag, size_t samples) {
  return "\xFF\xED" + be16(14 + samples) + tag + std::string("\x00\x00\x1F\x40\x00\x00\x00\x00", 8) +
         std::string(samples, '\x33');
}

// The binary block: "ZLF", version 2.0, the time in microseconds (little endian), 64 bytes.
std::string infoBlock(uint64_t micros) {
  std::string block("ZLF\0\x02\0\0\0", 8);
  for (int i = 0; i < 8; ++i) block += static_cast<char>((micros >> (8 * i)) & 0xFF);
  return block + std::string(48, '\0');
}

class Sink : public Vantrel::PlaybackSink {
 public:
  void videoFrame(const uint8_t*, size_t size, bool key, uint64_t time) override {
    seen.push_back(std::string(key ? "key " : "delta ") + std::to_string(time));
  }
  void audioFrame(const uint8_t*, size_t size, const Vantrel::PlaybackAudioFormat& format, uint64_t) override {
    seen.push_back("audio " + std::to_string(size) + "/" + std::to_string(format.unitSize));
  }
  std::vector<std::string> seen;
};

TEST(HttpConnectorTest, BlocksWholeAndByteByByte) {
  const std::string item = "TIT=1500000000.500\nENO=7\n";
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> seen;
    const char* logged;
  };
  const std::vector<Case> cases = {
      {"audio waits for an event number, then whole units",
       audioBlock("ULAW", 10) + picture(header(item), true) + audioBlock("L16 ", 41) + audioBlock("ULAW", 5),
       {"key 1500000000500", "audio 40/2", "audio 5/1"},
       " TRACE: Receiving of event '7. Event time= "},
      {"delta pictures before the first key picture",
       picture(header(item), false) + picture(header(item), true) + picture(header(item), false),
       {"key 1500000000500", "delta 1500000000500"},
       " part of 7["},
      {"no TIT", picture(header("ENO=7\n"), true), {}, " Cannot get timestamp, stream will be skipped"},
      {"no ENO", picture(header("TIT=5\n"), true), {}, " Cannot get eventId, stream will be skipped"},
      {"a comment longer than the picture", picture("\xFF\xFE\xFF\xF0#:R9IMG\n", true), {}, nullptr},
      {"an audio length past the data", "\xFF\xED\xFF\xFFULAW", {}, " TRACE: Audio block size = 65537, left=65529"},
      {"a ZLF block after the header sets the time",
       picture(header(item) + comment(infoBlock(1500000000123456)), true),
       {"key 1500000000123"},
       " TRACE: ZLF header received, ts= 2017-07-14T02:40:00.123Z"},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.bytes.size(), size_t{1}}) {
      CapturingLogger logger;
      Sink sink;
      Vantrel::HttpConnector connector(Vantrel::HttpConnector::Kind::Stream, Talvo::LoggerOwner(&logger, ""), &sink,
                                       true, true);
      for (size_t at = 0; at < c.bytes.size(); at += piece) {
        const std::string part = c.bytes.substr(at, piece);
        EXPECT_FALSE(connector.process(reinterpret_cast<const uint8_t*>(part.data()), part.size()));
      }
      EXPECT_EQ(sink.seen, c.seen) << c.what << ", pieces of " << piece;
      EXPECT_TRUE(!c.logged || logger.contains(c.logged)) << c.what << logger.dump();
    }
  }
}

}  // namespace
