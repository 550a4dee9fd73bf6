// The picture checks: which pictures the host gets, and Zelta key/delta from the marker walk.
// Arbitrary bytes: fuzz/picture_check_fuzzer.cpp.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PictureCheck.h"

namespace {

using V = Vantrel::PictureVerdict;
using K = Vantrel::ZeltaFrameKind;

// Bytes from hex digits; "APP0" stands for start of image and an APP0 of length 4.
std::vector<uint8_t> bytes(std::string hex) {
  if (hex.rfind("APP0", 0) == 0) hex.replace(0, 4, "FFD8 FFE0 0004 AABB");
  std::vector<uint8_t> out;
  for (size_t at = 0; at < hex.size(); ++at)
    if (hex[at] != ' ') out.push_back(uint8_t(std::stoul(hex.substr(at++, 2), nullptr, 16)));
  return out;
}

// Each row: the marker walk's kind, the Zelta verdict and the MJPEG one (MJPEG pictures are all
// key pictures and do not walk the markers; both need APP0 first and the end of image last).
TEST(PictureCheck, VerdictsFollowTheMarkerWalkAndTheEnds) {
  const struct {
    const char* name;
    const char* hex;
    K kind;
    V zelta, mjpeg;
  } cases[] = {
      {"a key picture", "APP0 FFDB 0003 01 FFDA 0002 FFD9", K::WithTables, V::Key, V::Key},
      {"a Huffman table", "APP0 FFC4 0003 01 FFD9", K::WithTables, V::Key, V::Key},
      {"a delta picture", "APP0 FFDA 0002 33 FFD9", K::WithoutTables, V::Delta, V::Key},
      {"next marker without FF", "APP0 00DA 0002 FFD9", K::NotAFrame, V::Invalid, V::Key},
      {"next marker within 4 bytes of the end", "APP0 FFDA FFD9", K::NotAFrame, V::Invalid, V::Key},
      {"a length past the end", "FFD8 FFE0 FFFF 00 FFD9", K::NotAFrame, V::Invalid, V::Key},
      {"6 bytes", "FFD8 FFE0 FFD9", K::NotAFrame, V::Invalid, V::Key},
      {"5 bytes", "FFD8 FFE0 D9", K::NotAFrame, V::Malformed, V::Malformed},
      {"tables without APP0", "FFD8 FFDB 0004 0102 FFD9", K::WithTables, V::Malformed, V::Malformed},
      {"Huffman table first", "FFD8 FFC4 0000 00", K::WithTables, V::Malformed, V::Malformed},
      {"scan first", "FFD8 FFDA 0102 0304", K::WithoutTables, V::Malformed, V::Malformed},
      {"shorter than 7 bytes", "FFD8 FFDB 0000", K::NotAFrame, V::Malformed, V::Malformed},
      {"no start of image", "FFD9 FFDA 0102 03", K::NotAFrame, V::Malformed, V::Malformed},
      {"no end of image", "APP0 FFDA 0002 33 FF", K::WithoutTables, V::Malformed, V::Malformed},
  };
  for (const auto& c : cases) {
    const auto b = bytes(c.hex);
    EXPECT_EQ(Vantrel::zeltaFrameKind(b.data(), b.size()), c.kind) << c.name;
    EXPECT_EQ(Vantrel::checkPicture(b.data(), b.size(), "Zelta"), c.zelta) << c.name;
    EXPECT_EQ(Vantrel::checkPicture(b.data(), b.size(), "MJPEG"), c.mjpeg) << c.name;
  }
}

}  // namespace
