// The part reader on streams fed in pieces of every size: what each body becomes (picture, event
// section, audio payload), and its cap. Arbitrary bytes: fuzz/server_push_reader_fuzzer.cpp.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "ServerPushReader.h"

namespace {

using Vantrel::ServerPushReader;
using namespace std::string_literals;  // pictures hold NUL bytes

const std::string kBoundary = ServerPushReader::kBoundary;
const std::string kAnswerHead =
    "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;boundary=VANTREL_Fast_Serverpush\r\n\r\n";
const std::string kPicture = "\xFF\xD8\xFF\xE0\x00\x04JF\xFF\xDA\x00\x02\x11\x22\xFF\xD9"s;
const std::string kBlockHeader = "\xFF\xED" + std::string(14, 'h');  // APP13 and the rest of its 16 bytes

std::string streamOf(const std::vector<std::string>& bodies) {
  std::string stream = kAnswerHead + kBoundary;
  for (const auto& body : bodies) stream += "Content-Type: image/jpeg\r\n\r\n" + body + "\r\n" + kBoundary;
  return stream;
}

// A body as the reader cuts it: picture, event section (none without one), audio payload.
using Cut = std::tuple<std::string, std::optional<std::string>, std::string>;
Cut picture(const std::string& bytes) { return {bytes, std::nullopt, ""}; }

std::string text(const Vantrel::ByteRange& range) {
  return std::string(reinterpret_cast<const char*>(range.data), range.size);
}

// Plays the video source: receives `chunk` bytes at a time, feeds the reader all not consumed (from
// an exactly sized heap block, for the address sanitizer) and drops what a finished stage consumed.
std::vector<Cut> cut(const std::string& stream, size_t chunk) {
  ServerPushReader reader;
  std::string buffer;
  std::vector<Cut> cuts;
  for (size_t at = 0;;) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[std::max<size_t>(buffer.size(), 1)]);
    std::copy(buffer.begin(), buffer.end(), exact.get());
    const ServerPushReader::Step step = reader.feed(exact.get(), buffer.size());
    EXPECT_NE(step.status, ServerPushReader::Status::TooLarge);
    if (step.status == ServerPushReader::Status::StageDone) {
      EXPECT_LE(step.consume, buffer.size());
      const auto& p = step.pieces;
      if (step.isBody)
        cuts.emplace_back(text(p.picture), p.hasEvents ? std::optional(text(p.events)) : std::nullopt, text(p.audio));
      buffer.erase(0, step.consume);
      continue;
    }
    if (at >= stream.size()) return cuts;
    buffer += stream.substr(at, chunk);
    at += chunk;
  }
}

struct Case {
  const char* name;
  std::vector<std::string> bodies;
  std::vector<Cut> expected;
};

TEST(ServerPushReader, BodiesBecomePicturesEventsAndAudio) {
  const std::string audio = kPicture + kBlockHeader + "audio!";
  const std::string events = "IN1=1\r\nENDSECTION EVENT\r\n" + kPicture;
  const Case cases[] = {
      {"a part of exactly the trailer: an empty picture", {""}, {picture("")}},
      {"1 to 3 bytes: nothing to look at", {"A", "ABC"}, {picture(""), picture("")}},
      {"a picture", {kPicture}, {picture(kPicture)}},
      {"an audio block of only its header carries no payload", {kPicture + kBlockHeader}, {picture(kPicture)}},
      {"a payload of one byte", {kPicture + kBlockHeader + "a"}, {Cut{kPicture, {}, "a"}}},
      {"a block shorter than its header", {kPicture + "\xFF\xED" + "abc"}, {picture(kPicture)}},
      {"an event section stays part of the picture", {events}, {Cut{events, "IN1=1\r\n", ""}}},
      {"an event end running into the trailer", {"xxENDSECTION EVENT"}, {picture("xxENDSECTION EVENT")}},
      {"a boundary without its line end is data",
       {"a--VANTREL_Fast_Serverpush-b"},
       {picture("a--VANTREL_Fast_Serverpush-b")}},
      {"parts after parts", {kPicture, audio, ""}, {picture(kPicture), Cut{kPicture, {}, "audio!"}, picture("")}},
  };
  for (const Case& c : cases)
    for (size_t chunk : {size_t(1), size_t(5), size_t(64), size_t(1) << 20})
      EXPECT_EQ(cut(streamOf(c.bodies), chunk), c.expected) << c.name << ", received " << chunk << " bytes at a time";
}

TEST(ServerPushReader, AStageThatDoesNotEndIsCapped) {
  std::vector<uint8_t> data(ServerPushReader::kMaxPartSize, 'x');
  ServerPushReader reader;
  EXPECT_EQ(reader.feed(data.data(), data.size() - 1).status, ServerPushReader::Status::NeedMore);
  EXPECT_EQ(reader.feed(data.data(), data.size()).status, ServerPushReader::Status::TooLarge);
}

}  // namespace
