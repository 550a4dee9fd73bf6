// Audio packets over byte arrays: null arrays refused, wrapped arrays left to their owner, owned
// arrays deleted once, and clones that outlive the array they were taken from.
#include "Zelta_AudioWrapper.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "PrintCapture.h"
#include "Zelta_AudioArray.h"

using namespace Zelta;

namespace {

std::string failure(const std::function<void()>& make) {
  try {
    make();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no exception";
}

std::string bytesOf(const Zelta_Audio& audio) { return std::string(reinterpret_cast<const char*>(audio.data()), audio.size()); }

}  // namespace

TEST(AudioWrapper, NullArraysAreRefused) {
  PrintCapture capture;
  const Zelta_AudioFormat alaw(Zelta_Codec_ALaw, 8000, 0, 1);
  EXPECT_NE(failure([&] { Zelta_AudioWrapper(nullptr, 4, alaw, {1, 2}, Zelta_AudioPacket_Data, true); })
                .find(" failed check: (data != nullptr)"),
            std::string::npos);
  EXPECT_NE(failure([] { Zelta_AudioArray(nullptr, 0, false); }).find(" failed check: (data != nullptr)"),
            std::string::npos);
}

// The clone of a wrapped array keeps samples, format, time and type after the array changed and
// went; owned arrays (here of zero and of some bytes) are deleted with their packet (the
// sanitizer builds see a leak or a second delete).
TEST(AudioWrapper, ClonesOutliveTheArrayAndOwnedArraysGoWithTheirPacket) {
  const Zelta_AudioFormat pcm(Zelta_Codec_PCM16, 16000, 2, 2);
  std::unique_ptr<Zelta_AudioWrapper> copy;
  {
    std::vector<uint8_t> samples = {1, 2, 3, 4};
    Zelta_AudioWrapper wrapped(samples.data(), samples.size(), pcm, {7, 999999}, Zelta_AudioPacket_Other, false);
    copy = wrapped.clone();
    samples.assign(4, 0);
    EXPECT_EQ(bytesOf(wrapped), std::string(4, '\0')) << "a wrapped array is read where it is";
  }
  EXPECT_EQ(bytesOf(*copy), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(copy->format(), pcm);
  EXPECT_EQ(copy->time(), (Zelta_AudioTime{7, 999999}));
  EXPECT_EQ(copy->packetType(), static_cast<uint32_t>(Zelta_AudioPacket_Other));
  EXPECT_TRUE(copy->ownsData());

  for (const size_t size : {0u, 3u}) {
    Zelta_AudioArray owned(new uint8_t[size](), size, true);
    const auto empty = owned.clone();
    EXPECT_EQ(empty->size(), size);
    EXPECT_EQ(owned.format(), Zelta_AudioFormat());
    EXPECT_EQ(owned.packetType(), static_cast<uint32_t>(Zelta_AudioPacket_Data));
  }
}
