// The picture checks: which pictures the host gets, and the Zelta key/delta decision from the
// marker walk, including walks that break off or point past the end. Arbitrary bytes are the
// fuzz target's (fuzz/picture_check_fuzzer.cpp).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictureCheck.h"

namespace {

using Vantrel::PictureVerdict;
using Vantrel::ZeltaFrameKind;
using Bytes = std::vector<uint8_t>;

// Start of image and APP0 of length 4, then `tail`.
Bytes app0(Bytes tail) {
  const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0xAA, 0xBB};
  tail.insert(tail.begin(), std::begin(head), std::end(head));
  return tail;
}

TEST(PictureCheck, ZeltaFrameKindFollowsTheMarkerWalk) {
  const struct {
    const char* name;
    Bytes bytes;
    ZeltaFrameKind kind;
  } cases[] = {
      {"shorter than 7 bytes", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x00}, ZeltaFrameKind::NotAFrame},
      {"quantisation table first", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x00, 0x00}, ZeltaFrameKind::WithTables},
      {"Huffman table first", {0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x00, 0x00}, ZeltaFrameKind::WithTables},
      {"scan first", {0xFF, 0xD8, 0xFF, 0xDA, 0x01, 0x02, 0x03, 0x04}, ZeltaFrameKind::WithoutTables},
      {"no start of image", {0xFF, 0xD9, 0xFF, 0xDA, 0x01, 0x02, 0x03}, ZeltaFrameKind::NotAFrame},
      {"table after APP0", app0({0xFF, 0xDB, 0, 0, 0, 0, 0}), ZeltaFrameKind::WithTables},
      {"scan after APP0", app0({0xFF, 0xDA, 0, 0, 0, 0, 0}), ZeltaFrameKind::WithoutTables},
      {"next marker without FF", app0({0x00, 0xDA, 0, 0, 0, 0, 0}), ZeltaFrameKind::NotAFrame},
      {"next marker within 4 bytes of the end", app0({0xFF, 0xDA, 0, 0}), ZeltaFrameKind::NotAFrame},
      {"a length past the end", {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF, 0x00, 0x00}, ZeltaFrameKind::NotAFrame},
  };
  for (const auto& c : cases) EXPECT_EQ(Vantrel::zeltaFrameKind(c.bytes.data(), c.bytes.size()), c.kind) << c.name;
}

TEST(PictureCheck, PicturesMustStartWithApp0AndEndWithEndOfImage) {
  const Bytes key = app0({0xFF, 0xDB, 0x00, 0x03, 0x01, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
  const Bytes delta = app0({0xFF, 0xDA, 0x00, 0x02, 0x33, 0xFF, 0xD9});
  const Bytes brokenWalk = app0({0x00, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
  const struct {
    const char* name;
    Bytes bytes;
    const char* codec;
    PictureVerdict verdict;
  } cases[] = {
      {"a key picture", key, "Zelta", PictureVerdict::Key},
      {"a delta picture", delta, "Zelta", PictureVerdict::Delta},
      {"a broken walk", brokenWalk, "Zelta", PictureVerdict::Invalid},
      {"MJPEG pictures are all key pictures", delta, "MJPEG", PictureVerdict::Key},
      {"MJPEG does not walk the markers", brokenWalk, "MJPEG", PictureVerdict::Key},
      {"5 bytes", {0xFF, 0xD8, 0xFF, 0xE0, 0xD9}, "Zelta", PictureVerdict::Malformed},
      {"6 bytes", {0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xD9}, "MJPEG", PictureVerdict::Key},
      {"no APP0", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x04, 0x01, 0x02, 0xFF, 0xD9}, "MJPEG", PictureVerdict::Malformed},
      {"no end of image", app0({0xFF, 0xDA, 0x00, 0x02, 0x33, 0xFF}), "Zelta", PictureVerdict::Malformed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Vantrel::checkPicture(c.bytes.data(), c.bytes.size(), c.codec), c.verdict) << c.name;
}

}  // namespace
