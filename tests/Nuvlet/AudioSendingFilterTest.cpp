// The G.711 sending filter: its parameter line, the buffers it asks the host's factory for and the
// byte-order conversion of linear samples.
#include "Nuvlet/include/AudioSendingFilter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "TestChannels.h"

namespace {

using Talvo::Utility::AudioBufferG7xxSendingFilter;
namespace MFF = Talvo::MFF;

TEST(AudioBufferG7xxSendingFilter, AllocatesWithItsParametersAndDescribesThem) {
  TestFrameFactory factory;
  AudioBufferG7xxSendingFilter filter(&factory, MFF::AUDIO_G7XX_ENCODING_ULAW);
  EXPECT_EQ(filter.describeParameters(),
            "G7xx stream parameters. bit_rate: undefined, multiplicity: undefined, encoding: "
            "AUDIO_G7XX_ENCODING_ULAW, convertLEToBE: false");
  filter.setBitRate(64000);
  filter.setTimeStamp(1767225600500ull);
  MFF::IAudioBuffer* buffer = filter.allocate(320);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->GetSize(), 320u);
  buffer->Destroy();
  EXPECT_EQ(factory.lastAudioFormat, "G.711");
  EXPECT_EQ(factory.lastAudioTimeStamp, 1767225600500ull);
  EXPECT_EQ(factory.lastAudioBitRate, 64000);
  EXPECT_EQ(factory.lastAudioEncoding, MFF::AUDIO_G7XX_ENCODING_ULAW);
  factory.giveAudioBuffers = false;
  EXPECT_EQ(filter.allocate(160), nullptr);
  filter.setEncoding(7);
  EXPECT_NE(filter.describeParameters().find(", encoding: Unknown audio encoding value:7!, "), std::string::npos)
      << filter.describeParameters();
}

TEST(AudioBufferG7xxSendingFilter, SwapsSampleBytesOnlyWhenConverting) {
  AudioBufferG7xxSendingFilter filter(static_cast<MFF::IMultimediaFrameFactory*>(nullptr),
                                      MFF::AUDIO_G7XX_ENCODING_LINEAR);
  EXPECT_EQ(filter.allocate(80), nullptr) << "no factory, no buffer";
  const std::vector<uint8_t> samples{0x01, 0x02, 0x03, 0x04, 0x05};
  std::vector<uint8_t> out(samples.size());
  filter.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, samples);
  filter.setConvertLEToBE(true);
  filter.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{0x02, 0x01, 0x04, 0x03, 0x05}));
}

}  // namespace
