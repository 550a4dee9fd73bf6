// The server-push stream read byte by byte: multipart layout, Zelta key and delta pictures,
// complete pictures, the microphone's audio blocks and the event section.
#include "CamsimProcess.h"
#include "JpegCheck.h"
#include "StreamCapture.h"

#include <gtest/gtest.h>

namespace {

const std::string kJfifStart("\xFF\xD8\xFF\xE0", 4);
const std::string kEndOfPicture("\xFF\xD9", 2);

class CamsimStream : public ::testing::Test {
 protected:
  // A clean exit also means no sanitizer report inside the simulator.
  void TearDown() override { EXPECT_EQ(camsim_.stop(), 0); }

  StreamCapture capture(const std::string& query, std::size_t parts) {
    return captureStream(camsim_.httpPort(), "/control/faststream.jpg?" + query, parts);
  }

  CamsimProcess camsim_;  // default 640x360 pictures: a dozen parts are a few hundred KB
};

// A multipart answer without length or chunking. Key pictures carry their tables and decode alone;
// deltas decode only behind the tables of the key picture before them. Full pictures are all keys.
TEST_F(CamsimStream, KeyPicturesAtTheAskedDistanceAndDeltasBetween) {
  const struct {
    const char* query;
    std::size_t keyEvery, parts;
  } cases[] = {{"stream=Zelta", 10, 12}, {"stream=Zelta&iframerefresh=3", 3, 7}, {"stream=full", 1, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    const StreamCapture stream = capture(std::string(c.query) + "&fps=0", c.parts);
    ASSERT_EQ(stream.error, "");
    ASSERT_EQ(stream.pictures.size(), c.parts);
    for (std::size_t i = 0; i < stream.pictures.size(); ++i) {
      const std::string& picture = stream.pictures[i];
      const bool key = i % c.keyEvery == 0;
      EXPECT_EQ(picture.substr(0, 4), kJfifStart) << i;
      EXPECT_EQ(picture.substr(picture.size() - 2), kEndOfPicture) << i;
      const std::string& lastKey = stream.pictures[i - i % c.keyEvery];
      EXPECT_EQ(decodedSize(key ? picture : withTablesOf(lastKey, picture)), "640x360") << i;
      EXPECT_TRUE(key || decodedSize(picture).empty()) << i;
    }
    EXPECT_NE(stream.pictures[0], stream.pictures[1]) << "the pattern moves";
    EXPECT_EQ(stream.head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << stream.head;
    EXPECT_NE(stream.head.find("Content-Type: multipart/x-mixed-replace;boundary=VANTREL_Fast_Serverpush\r\n"),
              std::string::npos);
    EXPECT_EQ(stream.head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(stream.head.find("chunked"), std::string::npos);
  }
  EXPECT_EQ(camsim_.request("/control/faststream.jpg?stream=other").status, 400);
}

// The microphone adds a tone block after every picture, the event section follows APP0; both
// only while enabled.
TEST_F(CamsimStream, ToneBlockAndEventSectionWhenEnabled) {
  EXPECT_EQ(camsim_.get("/admin/audio?setMicro=1"), "OK\r\n");
  EXPECT_EQ(camsim_.get("/sim/events?enable=1&est=3,7"), "OK\r\n");
  const StreamCapture stream = capture("stream=Zelta&fps=25", 3);
  ASSERT_EQ(stream.pictures.size(), 3u);
  constexpr std::size_t kPayload = 8000 / 25;
  for (const std::string& part : stream.pictures) {
    const auto audioAt = part.rfind(std::string("\xFF\xD9\xFF\xED", 4));
    ASSERT_NE(audioAt, std::string::npos);
    const std::size_t block = audioAt + 2;
    EXPECT_EQ(bigEndian16(part, block + 2), 14 + kPayload);
    EXPECT_EQ(part.size() - block, 16 + kPayload) << "the block ends the part";
    EXPECT_EQ(part.substr(block + 4, 4), "ULAW");
    // One period of a 1 kHz tone at 8000 samples/s is 8 samples: the payload repeats.
    const std::string payload = part.substr(block + 16);
    EXPECT_EQ(payload.substr(0, 8), payload.substr(8, 8));
    EXPECT_NE(payload.substr(0, 4), payload.substr(4, 4));

    const std::size_t comAt = 4 + bigEndian16(part, 4);
    ASSERT_EQ(part.substr(comAt, 2), std::string("\xFF\xFE", 2));
    const std::string text = part.substr(comAt + 4, bigEndian16(part, comAt + 2) - 2);
    EXPECT_EQ(text.compare(0, 24, "#:R9IMG\r\nSECTION EVENT\r\n"), 0) << text;
    EXPECT_NE(text.find("\r\nTIT="), std::string::npos);
    EXPECT_NE(text.find("\r\nEST=3,7\r\nENDSECTION EVENT\r\n"), std::string::npos) << text;
  }
  EXPECT_EQ(camsim_.get("/admin/audio?setMicro=0"), "OK\r\n");
  EXPECT_EQ(camsim_.get("/sim/events?enable=0"), "OK\r\n");
  const StreamCapture plain = capture("stream=Zelta&fps=25", 1);
  ASSERT_EQ(plain.pictures.size(), 1u);
  EXPECT_EQ(plain.pictures[0].substr(plain.pictures[0].size() - 2), kEndOfPicture);
  EXPECT_EQ(plain.pictures[0].find("ENDSECTION EVENT"), std::string::npos);
}

}  // namespace
