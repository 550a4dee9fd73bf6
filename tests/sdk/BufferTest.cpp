// The SDK's byte buffer: offsets stay inside the storage whatever the calls, foreign memory is
// never written past or freed, and growing keeps the contents.
#include "Zelta_Buffer.h"

#include <gtest/gtest.h>

#include "PrintCapture.h"

using Zelta::Zelta_Buffer;

namespace {
const uint8_t* bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }
std::string unreadText(const Zelta_Buffer& b) {
  return std::string(reinterpret_cast<char*>(b.readPointer()), b.unread());
}
}  // namespace

TEST(Buffer, OffsetsAreClampedToWhatIsThere) {
  Zelta_Buffer b(8);
  b.commit(100);
  EXPECT_EQ(b.writeOffset(), 8u) << "commit is clamped to the capacity";
  b.consume(3);
  b.peek(100);
  EXPECT_EQ(b.peeked(), 5u) << "peek is clamped to the unread length";
  b.consume(100);
  EXPECT_EQ(b.readOffset(), 8u) << "consume is clamped to the write offset";
  EXPECT_EQ(b.peeked(), 0u);
  b.clear();
  EXPECT_EQ(std::make_pair(b.unread(), b.freeSpace()), std::make_pair(size_t{0}, size_t{8}));
}

TEST(Buffer, WriteGrowingCompactsOrGrows) {
  Zelta_Buffer b(8);
  b.write(bytes("abcdef"), 6);
  b.consume(4);
  EXPECT_EQ(b.writeGrowing(bytes("ghij"), 4), 1);  // fits after compacting
  EXPECT_EQ(b.capacity(), 8u);
  EXPECT_EQ(unreadText(b), "efghij");
  EXPECT_EQ(b.writeGrowing(bytes("klmnopqrst"), 10), 1);  // must grow
  EXPECT_GE(b.capacity(), 16u);
  EXPECT_EQ(unreadText(b), "efghijklmnopqrst");
}

TEST(Buffer, GrowingForeignMemoryCopiesAndNeverShrinks) {
  PrintCapture capture;
  uint8_t foreign[4] = {'w', 'x', 'y', 'z'};
  {
    Zelta_Buffer b(foreign, sizeof foreign);
    b.commit(4);
    EXPECT_EQ(b.grow(2), 4u) << "a smaller target changes nothing";
    EXPECT_EQ(b.grow(), 8u);
    EXPECT_TRUE(b.ownsStorage());
    EXPECT_EQ(unreadText(b), "wxyz");
    b.write(bytes("!"), 1);
  }
  EXPECT_EQ(foreign[3], 'z');
  EXPECT_TRUE(capture.has("growing buffer that does not own the memory causes implicity memcpy"));
}
