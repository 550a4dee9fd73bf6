// Picture reassembly from the event stream's video queue: whole pictures out of pieces, and the
// two bounds (a too-full video queue skips pictures, 8 MiB without a whole picture is dropped).
#include "Zelta_PacketizerEventstream.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>

#include "PrintCapture.h"
#include "StreamBuilder.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

// A video side that hands out prepared bytes in pieces and claims a queue size of the test's
// choosing.
class PiecesSource : public Zelta_SourceVideo {
 public:
  void add(const std::string& bytes, size_t piece) {
    for (size_t i = 0; i < bytes.size(); i += piece) pieces.push_back(bytes.substr(i, piece));
  }
  int readVideo(Zelta_Buffer* target) override {
    if (pieces.empty()) return 1;
    bool copied = false;
    while (!pieces.empty() && target->freeSpace() > 0) {
      std::string& front = pieces.front();
      const size_t count = std::min(front.size(), target->freeSpace());
      target->write(reinterpret_cast<const uint8_t*>(front.data()), count);
      front.erase(0, count);
      copied = true;
      if (front.empty()) pieces.pop_front();
    }
    return copied ? 0 : 2;
  }
  bool deliversMore() const override { return true; }
  size_t queuedVideoBytes() const override { return claimedQueue; }

  std::deque<std::string> pieces;
  size_t claimedQueue = 0;
};

}  // namespace

TEST(PacketizerEventstream, PicturesComeOutWholeWhateverThePieces) {
  const std::string first = sb::picture({sb::zlf(1)}, 5000, 3);
  const std::string second = sb::picture({}, 70000, 4);
  for (const size_t piece : {1, 7, 1000, 66560}) {
    auto source = std::make_shared<PiecesSource>();
    source->add("junk before" + first + second, piece);
    Zelta_PacketizerEventstream packetizer(source, nullptr);
    std::vector<std::string> got;
    Zelta_Frame frame;
    for (int i = 0; i < 100000 && got.size() < 2; ++i) {
      ASSERT_EQ(packetizer.nextFrame(&frame), 0);
      if (frame.length > 0) got.emplace_back(reinterpret_cast<const char*>(frame.data), frame.length);
    }
    EXPECT_EQ(got, (std::vector<std::string>{first, second})) << "pieces of " << piece;
  }
}

// Pictures are skipped while the video queue holds more than 16 MiB.
TEST(PacketizerEventstream, TooFullVideoQueueSkipsPictures) {
  const std::string picture = sb::picture({}, 1000);
  for (const size_t queued : {16777216u, 16777217u}) {
    SCOPED_TRACE(queued);
    PrintCapture capture;
    auto info = std::make_shared<Zelta_StreamInfo>();
    auto source = std::make_shared<PiecesSource>();
    source->add(picture + picture, 512);
    source->claimedQueue = queued;
    Zelta_PacketizerEventstream packetizer(source, info);
    Zelta_Frame frame;
    EXPECT_EQ(packetizer.nextFrame(&frame), 0);
    const int skipped = queued > 16777216u ? 2 : 0;
    EXPECT_EQ(frame.length, skipped ? 0u : picture.size());
    EXPECT_EQ(capture.count("input queue too large, skipping frame"), static_cast<size_t>(skipped));
    EXPECT_EQ(info->getValue(Zelta_StreamInfo::kFramesSkipped), skipped);
    EXPECT_EQ(info->getValue(Zelta_StreamInfo::kBytesDropped), static_cast<int>(skipped * picture.size()));
  }
}

TEST(PacketizerEventstream, EightMegabytesWithoutAWholePictureAreDropped) {
  PrintCapture capture;
  auto info = std::make_shared<Zelta_StreamInfo>();
  auto source = std::make_shared<PiecesSource>();
  std::string endless = sb::picture({}, 9u << 20);
  endless.resize(endless.size() - 2);  // no end-of-image
  source->add(endless, 1u << 20);
  Zelta_PacketizerEventstream packetizer(source, info);
  Zelta_Frame frame;
  int result = 0;
  for (int i = 0; i < 100 && result == 0; ++i) result = packetizer.nextFrame(&frame);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(frame.length, 0u);
  EXPECT_GT(info->getValue(Zelta_StreamInfo::kBytesDropped), 8388607);
  const auto messages = capture.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind(" source buffer cached more than 8 MB of image data! Current payload size ", 0), 0u);
}
