// Audio conversion: A-law and 16-bit samples to the target format and rate (integer factors and
// free ratios), passthrough when nothing is to convert, refusal of impossible pairs.
#include "Zelta_AudioConvert.h"

#include <gtest/gtest.h>

#include "PrintCapture.h"
#include "Zelta_AudioReaderALaw.h"

using namespace Zelta;

namespace {

std::shared_ptr<Zelta_AudioVector> packet(const Zelta_AudioFormat& format, const std::vector<uint8_t>& samples) {
  return Zelta_AudioVector::make(format, {7, 8}, Zelta_AudioPacket_Data, samples.data(), samples.size());
}

std::vector<int16_t> s16(const Zelta_Audio& audio) {
  std::vector<int16_t> out;
  for (size_t i = 0; i + 1 < audio.size(); i += 2)
    out.push_back(static_cast<int16_t>(audio.data()[i] | audio.data()[i + 1] << 8));
  return out;
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  for (const int16_t s : samples) out.insert(out.end(), {static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>(s >> 8)});
  return out;
}

const Zelta_AudioFormat kALaw8k(Zelta_Codec_ALaw, 8000, 2, 1);
const Zelta_AudioFormat kPcm16k(Zelta_Codec_PCM16, 16000, 2, 1);

}  // namespace

TEST(AudioConvert, ALawDecoding) {
  const std::vector<std::pair<uint8_t, int16_t>> cases = {{0xD5, 8}, {0x55, -8}, {0xAA, 32256}, {0x2A, -32256}};
  for (const auto& [alaw, linear] : cases) EXPECT_EQ(Zelta_AudioReaderALaw::decode(alaw), linear) << int(alaw);
}

TEST(AudioConvert, SamplesAndRates) {
  PrintCapture capture;
  const struct {
    Zelta_AudioFormat from, to;
    std::vector<uint8_t> samples;
    std::vector<int16_t> expected;
  } cases[] = {
      {kALaw8k, kPcm16k, {0xD5, 0xAA}, {8, 8, 32255, 32255}},  // each frame doubled
      {kPcm16k, Zelta_AudioFormat(0, 8000, 2, 1), bytesOf({1000, 3000, -500, -1500}), {2000, -1000}},  // pairs averaged
      {Zelta_AudioFormat(0, 8000, 2, 2),
       Zelta_AudioFormat(0, 16000, 2, 1),
       bytesOf({100, -100}),
       {100, -100, 100, -100}},  // stereo keeps its channels
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Zelta_AudioConvert convert(&c.from, &c.to);
    ASSERT_TRUE(convert.supported());
    const auto out = convert.convert(*packet(c.from, c.samples));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(s16(*out), c.expected);
    EXPECT_EQ(std::make_pair(out->format().sampleRate(), out->format().channels()),
              std::make_pair(c.to.sampleRate(), c.from.channels()));
    EXPECT_EQ(out->time(), (Zelta_AudioTime{7, 8}));
  }
  // A free ratio: 16 000 to 11 025 Hz interpolates; a constant stays constant.
  const Zelta_AudioFormat odd(0, 11025, 2, 1);
  Zelta_AudioConvert free(&kPcm16k, &odd);
  const auto out = free.convert(*packet(kPcm16k, bytesOf(std::vector<int16_t>(1600, 2000))));
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(s16(*out), std::vector<int16_t>(1102, 2000));
  EXPECT_TRUE(capture.messages().empty());
}

// The stream chooses the source rate: rates more than 24 times apart are refused, and a packet
// that would convert into more than 4 MiB is dropped (a 1 Hz stream against 16 kHz would ask for
// gigabytes per packet).
TEST(AudioConvert, RateRatiosAndConvertedSizesAreCapped) {
  const struct {
    Zelta_AudioFormat from, to;
    size_t bytes;
    const char* message;  // empty: converted
  } cases[] = {
      {Zelta_AudioFormat(0, 1, 2, 1), kPcm16k, 4, "unsupported sample rate conversion from 1 Hz to 16000 Hz"},
      {Zelta_AudioFormat(0, 16000, 2, 1), Zelta_AudioFormat(0, 666, 2, 1), 4,
       "unsupported sample rate conversion from 16000 Hz to 666 Hz"},
      {kALaw8k, Zelta_AudioFormat(0, 192000, 5, 1), 43690, ""},  // 43690 * 24 * 4 bytes: just below 4 MiB
      {kALaw8k, Zelta_AudioFormat(0, 192000, 5, 1), 43691,
       "audio packet of 43691 bytes would convert into 4194340 bytes, dropped"},
      {Zelta_AudioFormat(1, 8000, 2, 200), Zelta_AudioFormat(0, 192000, 5, 1), 65400,
       "audio packet of 65400 bytes would convert into 6279200 bytes, dropped"},  // 200 channels
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    PrintCapture capture;
    Zelta_AudioConvert convert(&c.from, &c.to);
    const auto out = convert.convert(*packet(c.from, std::vector<uint8_t>(c.bytes, 0xD5)));
    if (*c.message) {
      EXPECT_EQ(out, nullptr);
      EXPECT_TRUE(capture.has(c.message)) << capture.messages().size();
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_LE(out->size(), 4194304u);
    }
  }
}

TEST(AudioConvert, PassthroughAndRefusals) {
  const struct {
    const Zelta_AudioFormat* from;
    const Zelta_AudioFormat* to;
    const char* message;
    bool passthrough;
  } cases[] = {
      {nullptr, &kPcm16k, "audio source did not provide data format", true},
      {&kPcm16k, &kPcm16k, "Audio conversion not available/needed, activating audio passthrough mode", true},
      {&kPcm16k, &kALaw8k, "unsupported sample format conversion from 2 to 2", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    PrintCapture capture;
    Zelta_AudioConvert convert(c.from, c.to);
    EXPECT_EQ(convert.supported(), c.passthrough);
    EXPECT_TRUE(capture.has(c.message));
    const auto in = packet(kPcm16k, {1, 2, 3, 4});
    const auto out = convert.convert(*in);
    if (c.passthrough) {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(out->bytes(), in->bytes());
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
}
