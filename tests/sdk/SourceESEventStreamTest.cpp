// The event-stream source over a scripted connection: segments whatever the receive sizes, queue
// limits, reconnects; the packetizer's reassembly of pictures and its two bounds; the byte buffer.
#include "Zelta_SourceESEventStream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "SdkTestDoubles.h"
#include "ScriptedConnection.h"
#include "StreamBuilder.h"
#include "Zelta_PacketizerEventstream.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

const char* const kUrl = "http://cam.example/control/eventstream.jpg";

// What came out of a stream: the control and audio segments in order, the pictures the
// packetizer reassembled.
struct Output {
  std::vector<std::string> controls, audios, pictures;
  bool operator==(const Output& o) const {
    return std::tie(controls, audios, pictures) == std::tie(o.controls, o.audios, o.pictures);
  }
};

std::string bytesOf(const Zelta_Buffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.readPointer()), buffer.unread());
}

struct Pipeline {
  std::shared_ptr<ScriptedConnection> connection = std::make_shared<ScriptedConnection>();
  std::shared_ptr<Zelta_StreamInfo> info = std::make_shared<Zelta_StreamInfo>();
  std::shared_ptr<Zelta_SourceESEventStream> source =
      std::make_shared<Zelta_SourceESEventStream>(kUrl, nullptr, connection, nullptr, info);
  Zelta_PacketizerEventstream packetizer{source, info};

  // Steps the source until the stream is drained, reading pictures as the SDK loop does (or not).
  void drain(Output* out = nullptr) {
    for (int guard = 0; guard < 1000000 && !connection->drained(); ++guard) {
      Zelta_SourceAsyncNet::async_network_loop(source.get());
      if (out) collectPictures(*out);
    }
  }
  Output run(const std::string& stream, std::vector<size_t> receiveSizes = {}) {
    connection->feed(stream, std::move(receiveSizes));
    Output out;
    drain(&out);
    collectPictures(out);
    while (auto segment = source->takeControlSegment()) out.controls.push_back(bytesOf(*segment));
    while (auto segment = source->takeAudioSegment()) out.audios.push_back(bytesOf(*segment));
    return out;
  }
  void collectPictures(Output& out) {
    Zelta_Frame frame;
    while (packetizer.nextFrame(&frame) == 0 && frame.length > 0)
      out.pictures.emplace_back(reinterpret_cast<const char*>(frame.data), frame.length);
  }
};

// A small recorded stream: answer head, greeting, pictures with header blocks, audio and control
// segments between them; `tail` (bytes that start no segment) belongs to the second picture.
std::pair<std::string, Output> smallStream(const std::string& tail) {
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n";
  const std::string greeting = sb::control("{\"id\":0,\"result\":\"eventstream\"}");
  const std::string picture1 =
      sb::picture({"#:R9IMG\nSECTION IMAGE\nW=1920\nENDSECTION IMAGE\n", sb::zlf(1700000000123456)}, 300, 1);
  const std::string audio1 = sb::audio(std::string("ZLA\0", 4) + std::string(40, '\x11'));
  const std::string answer = sb::control("{\"id\":2,\"result\":true}");
  const std::string picture2 = sb::picture({sb::zlf(1700000000223456)}, 257, 2);
  const std::string audio2 = sb::audio(std::string("ZLA\0", 4) + std::string(3, '\xFF'));
  const std::string stream =
      head + greeting + picture1 + audio1 + answer + picture2 + tail + audio2 + sb::control("{\"id\":3}");
  return {stream, {{greeting, answer, sb::control("{\"id\":3}")}, {audio1, audio2}, {picture1, picture2}}};
}

// A video side that hands out prepared bytes in pieces and claims a queue size of the test's
// choosing.
class PiecesSource : public Zelta_SourceVideo {
 public:
  PiecesSource(std::string bytes, size_t piece, size_t claimedQueue = 0)
      : bytes_(std::move(bytes)), piece_(piece), claimedQueue_(claimedQueue) {}
  int readVideo(Zelta_Buffer* target) override {
    if (at_ == bytes_.size()) return 1;
    const size_t count = std::min({piece_ - at_ % piece_, bytes_.size() - at_, target->freeSpace()});
    if (count == 0) return 2;
    target->write(reinterpret_cast<const uint8_t*>(bytes_.data()) + at_, count);
    at_ += count;
    return 0;
  }
  bool deliversMore() const override { return true; }
  size_t queuedVideoBytes() const override { return claimedQueue_; }
  const std::string bytes_;
  const size_t piece_, claimedQueue_;
  size_t at_ = 0;
};

}  // namespace

// The property the parser must have: the same segments whatever the receive sizes.
TEST(SourceESEventStream, EverySplitPointGivesTheSameSegments) {
  for (const std::string& tail : {std::string(), std::string("\x01\x02\x03"), std::string("\xFF\x01\x02\x03", 4)}) {
    SCOPED_TRACE("bytes after a picture: " + std::to_string(tail.size()));
    const auto [stream, expected] = smallStream(tail);
    PrintCapture capture;
    ASSERT_EQ(Pipeline().run(stream), expected) << "in one receive";
    for (size_t split = 1; split < stream.size(); ++split)
      ASSERT_EQ(Pipeline().run(stream, {split, stream.size()}), expected) << "split at " << split;
    for (const size_t size : {1, 2, 3, 5, 7, 64}) ASSERT_EQ(Pipeline().run(stream, {size}), expected) << size;
    EXPECT_FALSE(capture.has("failed to find next segment"));
    EXPECT_FALSE(capture.has("segment length must never exceed buffer size"));
    EXPECT_EQ(capture.has("-> invalid state: 0.1: last segment was image -> data before next segment start belongs "
                          "to that image segment"),
              !tail.empty());
  }
}

TEST(SourceESEventStream, QueueLimitsDropTheNewestSegment) {
  const struct {
    uint8_t marker;
    size_t limit;
    int streamInfoKey;
    size_t (Zelta_SourceESEventStream::*queued)() const;
  } cases[] = {{0xEB, 4194304, 1, &Zelta_SourceESEventStream::queuedAudioBytes},
               {0xEC, 1048576, 0, &Zelta_SourceESEventStream::queuedControlBytes},
               {0xD8, 33554432, 2, &Zelta_SourceESEventStream::queuedVideoBytes}};
  for (const auto& c : cases) {
    PrintCapture capture;
    Pipeline p;
    const std::string one = c.marker == 0xD8 ? sb::picture({}, 100) : sb::segment(c.marker, std::string(60000, 'x'));
    const size_t count = c.limit / one.size() + 4;
    std::string stream;
    for (size_t i = 0; i < count; ++i) stream += one;
    p.connection->feed(stream, {one.size()});  // each receive holds one whole segment
    p.drain();
    EXPECT_LE(((*p.source).*c.queued)(), c.limit);
    const int dropped = p.info->getValue(Zelta_StreamInfo::kSegmentsDropped);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(static_cast<size_t>(p.info->getValue(c.streamInfoKey) + dropped), count);
    EXPECT_TRUE(capture.has("queue size exceeds limit of " + std::to_string(c.limit) + " dropping incoming data of " +
                            std::to_string(Zelta_SourceESEventStream::kReceiveBufferSize)))
        << "a whole receive buffer is queued and counted by its capacity";
  }
}

// Video queue full (32 MiB of receive buffers): a picture that lost its last piece is dropped
// whole instead of being joined to the next picture.
TEST(SourceESEventStream, APictureCutByTheFullVideoQueueIsNotJoinedToTheNext) {
  PrintCapture capture;
  Pipeline p;
  const std::string filler = sb::picture({}, 100);
  const std::string cut = sb::picture({sb::zlf(1)}, 20000, 5);
  const std::string next = sb::picture({sb::zlf(2)}, 300, 6);
  // 503 receive buffers of 66 560 bytes leave room for one more: the cut picture's first piece.
  std::vector<size_t> receives(503, filler.size());
  receives.insert(receives.end(), {10000, cut.size() - 10000});
  std::string stream;
  for (size_t i = 0; i < 503; ++i) stream += filler;
  p.connection->feed(stream + cut, receives);
  p.drain();
  Output before;
  p.collectPictures(before);
  ASSERT_FALSE(before.pictures.empty());  // the first ones are skipped while the queue holds over 16 MiB
  EXPECT_EQ(before.pictures.back(), filler);
  EXPECT_EQ(p.run(next).pictures, std::vector<std::string>{next});
  EXPECT_TRUE(capture.has("queue size exceeds limit of 33554432 dropping incoming data of 66560"));
  EXPECT_TRUE(capture.has("picture cut short, dropping 10000 bytes"));
}

// A reconnect starts from the new connection's first byte: the half picture and half control
// segment of the old connection neither reach nor spoil what the new one sends.
TEST(SourceESEventStream, AReconnectForgetsTheOldConnectionsBytes) {
  PrintCapture capture;
  const std::string head = "HTTP/1.0 200 OK\r\n\r\n";
  const std::string greeting = sb::control("{\"id\":0}");
  const std::string halfPicture = sb::picture({sb::zlf(1)}, 3000, 7).substr(0, 1500);
  const std::string control = sb::control("{\"id\":5}");
  const std::string picture = sb::picture({sb::zlf(2)}, 400, 8);
  for (const std::string& cutOff : {halfPicture, control.substr(0, 9)}) {
    SCOPED_TRACE(cutOff.size());
    Pipeline p;
    p.connection->feed(head + greeting + cutOff);
    p.drain();
    p.source->close_remote(true);  // the camera went away; auto reconnect
    EXPECT_EQ(p.run(head + picture + control), (Output{{greeting, control}, {}, {picture}}));
    EXPECT_EQ(p.connection->connects, 2);
  }
}

TEST(PacketizerEventstream, PicturesComeOutWholeWhateverThePieces) {
  const std::string first = sb::picture({sb::zlf(1)}, 5000, 3);
  const std::string second = sb::picture({}, 70000, 4);
  for (const size_t piece : {1, 7, 1000, 66560}) {
    Zelta_PacketizerEventstream packetizer(std::make_shared<PiecesSource>("junk before" + first + second, piece),
                                           nullptr);
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
    Zelta_PacketizerEventstream packetizer(std::make_shared<PiecesSource>(picture + picture, 512, queued), info);
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
  std::string endless = sb::picture({}, 9u << 20);
  endless.resize(endless.size() - 2);  // no end-of-image
  Zelta_PacketizerEventstream packetizer(std::make_shared<PiecesSource>(endless, 1u << 20), info);
  Zelta_Frame frame;
  int result = 0;
  for (int i = 0; i < 100 && result == 0; ++i) result = packetizer.nextFrame(&frame);
  EXPECT_EQ(std::make_pair(result, frame.length), std::make_pair(2, size_t{0}));
  EXPECT_GT(info->getValue(Zelta_StreamInfo::kBytesDropped), 8388607);
  const auto messages = capture.messages();
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind(" source buffer cached more than 8 MB of image data! Current payload size ", 0), 0u);
}

// Offsets stay inside the storage whatever the calls, writing compacts before it grows and keeps
// the contents, and foreign memory is never written past or freed.
TEST(Buffer, OffsetsStayInsideAndGrowingKeepsTheContents) {
  const auto text = [](const char* t) { return reinterpret_cast<const uint8_t*>(t); };
  Zelta_Buffer b(8);
  b.commit(100);
  b.consume(3);
  b.peek(100);
  EXPECT_EQ(std::make_pair(b.writeOffset(), b.peeked()), std::make_pair(size_t{8}, size_t{5})) << "both clamped";
  b.consume(100);
  EXPECT_EQ(std::make_pair(b.readOffset(), b.peeked()), std::make_pair(size_t{8}, size_t{0})) << "at the write offset";
  b.clear();
  ASSERT_EQ(b.write(text("abcdef"), 6), 1);
  b.consume(4);
  EXPECT_EQ(b.writeGrowing(text("ghij"), 4), 1);
  EXPECT_EQ(std::make_pair(bytesOf(b), b.capacity()), std::make_pair(std::string("efghij"), size_t{8})) << "compacted";
  EXPECT_EQ(b.writeGrowing(text("klmnopqrst"), 10), 1);
  EXPECT_EQ(bytesOf(b), "efghijklmnopqrst");
  PrintCapture capture;
  uint8_t foreign[4] = {'w', 'x', 'y', 'z'};
  {
    Zelta_Buffer wrapping(foreign, sizeof foreign);
    wrapping.commit(4);
    EXPECT_EQ(wrapping.grow(2), 4u) << "a smaller target changes nothing";
    EXPECT_EQ(wrapping.grow(), 8u);
    EXPECT_EQ(std::make_pair(bytesOf(wrapping), wrapping.ownsStorage()), std::make_pair(std::string("wxyz"), true));
    wrapping.write(text("!"), 1);
  }
  EXPECT_EQ(foreign[3], 'z');
  EXPECT_TRUE(capture.has("growing buffer that does not own the memory causes implicity memcpy"));
}
