// The G.711 sending filter: its parameter line, the buffers it asks either factory kind for and
// the byte-order conversion of linear samples.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Nuvlet/include/AudioSendingFilter.h"
#include "TestChannels.h"
#include "host/MFF.h"

namespace {

using Talvo::Utility::AudioBufferG7xxSendingFilter;
namespace MFF = Talvo::MFF;

TEST(AudioBufferG7xxSendingFilter, DescribesItsParametersAndNamesAnUnknownEncoding) {
  AudioBufferG7xxSendingFilter filter(static_cast<MFF::IMultimediaFrameFactory*>(nullptr),
                                      MFF::AUDIO_G7XX_ENCODING_ULAW);
  EXPECT_EQ(filter.describeParameters(),
            "G7xx stream parameters. bit_rate: undefined, multiplicity: undefined, encoding: "
            "AUDIO_G7XX_ENCODING_ULAW, convertLEToBE: false");
  filter.setBitRate(64000);
  filter.setMultiplicity(2);
  filter.setEncoding(MFF::AUDIO_G7XX_ENCODING_LINEAR);
  filter.setConvertLEToBE(true);
  EXPECT_EQ(filter.describeParameters(),
            "G7xx stream parameters. bit_rate: 64000, multiplicity: 2, encoding: AUDIO_G7XX_ENCODING_LINEAR, "
            "convertLEToBE: true");
  filter.setEncoding(7);
  EXPECT_NE(filter.describeParameters().find(", encoding: Unknown audio encoding value:7!, "), std::string::npos)
      << filter.describeParameters();
}

TEST(AudioBufferG7xxSendingFilter, AllocatesFromTheHostFactoryWithItsParameters) {
  TestFrameFactory factory;
  AudioBufferG7xxSendingFilter filter(&factory, MFF::AUDIO_G7XX_ENCODING_ULAW);
  filter.setBitRate(64000);
  filter.setTimeStamp(1767225600500ull);
  MFF::IAudioBuffer* buffer = filter.allocate(320);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->GetSize(), 320u);
  buffer->Destroy();
  EXPECT_EQ(factory.audioAllocations, 1u);
  EXPECT_EQ(factory.lastAudioFormat, "G.711");
  EXPECT_EQ(factory.lastAudioTimeStamp, 1767225600500ull);
  EXPECT_EQ(factory.lastAudioBitRate, 64000);
  EXPECT_EQ(factory.lastAudioEncoding, MFF::AUDIO_G7XX_ENCODING_ULAW);

  factory.giveAudioBuffers = false;
  EXPECT_EQ(filter.allocate(160), nullptr);
}

// Through an allocator function; an undefined bit rate is passed as 0.
TEST(AudioBufferG7xxSendingFilter, AllocatesThroughAnAllocatorFunction) {
  TestFrameFactory factory;
  Talvo::Utility::AudioBufferAllocator allocator = [&factory](const char* format, size_t size, uint64_t stamp,
                                                              int32_t bitRate, int32_t encoding) {
    return factory.AllocateAudioBuffer(format, size, stamp, bitRate, encoding);
  };
  AudioBufferG7xxSendingFilter filter(allocator, MFF::AUDIO_G7XX_ENCODING_ALAW);
  MFF::IAudioBuffer* buffer = filter.allocate(80);
  ASSERT_NE(buffer, nullptr);
  buffer->Destroy();
  EXPECT_EQ(factory.lastAudioSize, 80u);
  EXPECT_EQ(factory.lastAudioBitRate, 0);
  EXPECT_EQ(factory.lastAudioEncoding, MFF::AUDIO_G7XX_ENCODING_ALAW);
  EXPECT_EQ(factory.lastAudioTimeStamp, 0u);

  AudioBufferG7xxSendingFilter empty(Talvo::Utility::AudioBufferAllocator(), MFF::AUDIO_G7XX_ENCODING_ALAW);
  EXPECT_EQ(empty.allocate(80), nullptr);
  AudioBufferG7xxSendingFilter noHost(static_cast<MFF::IMultimediaFrameFactory*>(nullptr),
                                      MFF::AUDIO_G7XX_ENCODING_ALAW);
  EXPECT_EQ(noHost.allocate(80), nullptr);
}

TEST(AudioBufferG7xxSendingFilter, SwapsSampleBytesOnlyWhenConverting) {
  AudioBufferG7xxSendingFilter filter(static_cast<MFF::IMultimediaFrameFactory*>(nullptr),
                                      MFF::AUDIO_G7XX_ENCODING_LINEAR);
  const std::vector<uint8_t> samples{0x01, 0x02, 0x03, 0x04, 0x05};
  std::vector<uint8_t> out(samples.size());
  filter.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, samples);
  filter.setConvertLEToBE(true);
  filter.copyPayload(samples.data(), samples.size(), out.data());
  EXPECT_EQ(out, (std::vector<uint8_t>{0x02, 0x01, 0x04, 0x03, 0x05}));
}

}  // namespace
