// Audio packets: stream headers and data packets of the event stream, the sink wrapper, packets over
// borrowed or owned bytes; conversion of A-law and 16-bit samples to a target format and rate,
// passthrough when nothing is to convert, refusal of impossible pairs.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <tuple>

#include "SdkTestDoubles.h"
#include "StreamBuilder.h"
#include "Zelta_AudioApp11Buffer.h"
#include "Zelta_AudioConvert.h"
#include "Zelta_AudioReaderALaw.h"
#include "Zelta_AudioArray.h"
#include "Zelta_AudioVector.h"
#include "Zelta_AudioWrapper.h"
#include "Zelta_SinkAudioWrapper.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

Zelta_AudioApp11Buffer packet(const std::string& segment, const Zelta_AudioFormat& current = {}) {
  auto buffer = std::make_unique<Zelta_Buffer>(segment.size());
  buffer->write(reinterpret_cast<const uint8_t*>(segment.data()), segment.size());
  return Zelta_AudioApp11Buffer(std::move(buffer), current);
}

std::string streamHeader(uint32_t rate, const char* codec, uint8_t sampleFormat, uint8_t channels) {
  std::string payload("ZLS\0\0\0\0\0", 8);
  sb::putLE(payload, 8, rate, 4);
  return sb::audio(payload + std::string(codec, 4) + static_cast<char>(sampleFormat) + static_cast<char>(channels));
}

std::string dataPacket(uint64_t timeUs, const std::string& samples, int extensionAt = -1) {
  std::string payload("ZLA\0\0\0\0\0", 8);
  if (extensionAt >= 0) {
    payload[5] = static_cast<char>(0x80);  // byte 9 of the segment
    sb::putLE(payload, 6, static_cast<uint64_t>(extensionAt), 2);
  }
  sb::putLE(payload, 8, timeUs, 8);
  payload.resize(20, '\0');
  return sb::audio(payload + samples);
}

std::shared_ptr<Zelta_AudioVector> vectorOf(const Zelta_AudioFormat& format, const std::vector<uint8_t>& samples) {
  return Zelta_AudioVector::make(format, {7, 8}, Zelta_AudioPacket_Data, samples.data(), samples.size());
}

std::vector<uint8_t> bytesOf(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  for (const int16_t s : samples) out.insert(out.end(), {static_cast<uint8_t>(s & 0xFF), static_cast<uint8_t>(s >> 8)});
  return out;
}

const Zelta_AudioFormat kALaw8k(Zelta_Codec_ALaw, 8000, 2, 1);
const Zelta_AudioFormat kPcm16k(Zelta_Codec_PCM16, 16000, 2, 1);

}  // namespace

// Audio segments: stream headers give the format (one cut short keeps the current one), data
// packets their samples (up to an extension, never past the segment) and time; other and unknown
// ones are told apart.
TEST(Audio, SegmentsGiveFormatsSamplesAndTypes) {
  const std::string samples = "0123456789abcdef";
  const uint32_t header = Zelta_AudioPacket_StreamHeader, data = Zelta_AudioPacket_Data;
  const struct {
    std::string segment;
    uint32_t type;
    Zelta_AudioFormat format;
    std::string text;  // the samples of a data packet, else the one message if any
  } cases[] = {
      {streamHeader(16000, " P16", 0, 2), header, {Zelta_Codec_PCM16, 16000, 0, 2}, ""},
      {streamHeader(8000, "mp3 ", 1, 1), header, {Zelta_Codec_Unsupported, 8000, 2, 1}, "unsupported codec: 540242029"},
      {streamHeader(16000, "alaw", 'x', 1),
       header,
       {Zelta_Codec_ALaw, 16000, 6, 1},
       "stream header indicates unknown sample format x"},
      {sb::audio(std::string("ZLS\0\0\0\0\0\x40\x1F", 10)), header, kALaw8k, ""},  // cut short
      {dataPacket(1, samples), data, kALaw8k, samples},
      {dataPacket(1, samples + "EXTENSION", 12 + 16), data, kALaw8k, samples},
      {dataPacket(1, samples, 3), data, kALaw8k, ""},                        // the extension before the samples
      {dataPacket(1, samples, 60000), data, kALaw8k, samples},               // the extension past the end
      {sb::audio(std::string("ZLA\0\0\0\0\0\1\2", 10)), data, kALaw8k, ""},  // too short for samples
      {dataPacket(1, samples) + "trailing bytes", data, kALaw8k, samples},
      {sb::audio(std::string("ZLO\0\0\0\0\0", 8)), Zelta_AudioPacket_Other, kALaw8k, ""},
      {sb::audio(std::string("XYZ\0\0\0\0\0", 8)), Zelta_AudioPacket_Unknown, kALaw8k, "unknown package: 5921112"},
      {"\xFF\xEB", Zelta_AudioPacket_Unknown, kALaw8k, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    PrintCapture capture;
    const auto audio = packet(c.segment, kALaw8k);
    EXPECT_EQ(std::make_pair(audio.packetType(), audio.format()), std::make_pair(c.type, c.format));
    if (c.type == data) {
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(audio.data()), audio.size()), c.text);
    }
    EXPECT_EQ(capture.messages(),
              c.type == data || c.text.empty() ? std::vector<std::string>{} : std::vector<std::string>{" " + c.text});
  }
  EXPECT_EQ(packet(dataPacket(1700000000250000, samples)).time(), (Zelta_AudioTime{1700000000, 250000}));
}

// The sink's four queries, each answered 0 once: what reaches it of two A-law packets, the second
// after a stream header that doubles the rate (other packets never reach it).
TEST(Audio, SinkWrapperAsksTheSinksFourQueries) {
  struct Sink : Zelta_SinkAudio {
    explicit Sink(std::array<int, 4> answers) : answers(answers) {}
    const Zelta_AudioFormat* targetFormat() const override { return &target; }
    int consume(std::shared_ptr<Zelta_Audio> audio) override {
      received.emplace_back(audio->size(), audio->format().sampleRate());
      return 1;
    }
    int acceptsAudio() const override { return answers[0]; }
    int acceptsFormatChanges() const override { return answers[1]; }
    int wantsConversion() const override { return answers[2]; }
    int allowsResampling() const override { return answers[3]; }
    const std::array<int, 4> answers;
    Zelta_AudioFormat target{Zelta_Codec_PCM16, 16000, 2, 1};
    std::vector<std::pair<size_t, uint32_t>> received;  // bytes, rate
  };
  using Received = std::vector<std::pair<size_t, uint32_t>>;
  const struct {
    std::array<int, 4> answers;
    Received received;
  } cases[] = {
      {{1, 1, 1, 1}, {{12, 16000}, {6, 16000}}},  // 3 samples at 8 kHz doubled, then at 16 kHz as they are
      {{0, 1, 1, 1}, {}},
      {{1, 0, 1, 1}, {{12, 16000}}},            // the second format is not followed
      {{1, 1, 0, 1}, {{3, 8000}, {3, 16000}}},  // A-law bytes as carried
      {{1, 1, 1, 0}, {{6, 8000}, {6, 16000}}},  // PCM16 at the stream's rate
  };
  PrintCapture capture;
  for (const auto& c : cases) {
    auto sink = std::make_shared<Sink>(c.answers);
    Zelta_SinkAudioWrapper wrapper(sink);
    const std::string samples("\xD5\xD5\xD5", 3);
    for (const std::string& segment :
         {streamHeader(8000, "alaw", 1, 1), dataPacket(1, samples), sb::audio(std::string("ZLO\0\0\0\0\0", 8)),
          streamHeader(16000, "alaw", 1, 1), dataPacket(2, samples)})
      wrapper.consume(packet(segment));
    EXPECT_EQ(sink->received, c.received) << c.answers[0] << c.answers[1] << c.answers[2] << c.answers[3];
  }
}

// Borrowed bytes stay the caller's; owned ones, also of zero samples, go with their packet (the
// sanitizers see leaks and double deletes); clones keep everything after the original bytes went.
TEST(Audio, BorrowedBytesStayTheCallersAndOwnedOnesGoWithThePacket) {
  std::vector<uint8_t> callers(AUD_BUF_PREFIX_SIZE + 2, 0);
  callers[4] = 0x40;  // 64 Hz
  {
    Zelta_AudioVector borrowed(&callers, false);
    EXPECT_EQ(borrowed.format().sampleRate(), 64u);
    const auto copy = borrowed.clone();
    callers[AUD_BUF_PREFIX_SIZE] = 9;
    EXPECT_EQ(copy->data()[0], 0) << "the clone has its own bytes";
  }
  EXPECT_EQ(callers.size(), AUD_BUF_PREFIX_SIZE + 2) << "still the caller's";
  EXPECT_EQ(Zelta_AudioVector(new std::vector<uint8_t>(callers), true).size(), 2u);

  std::unique_ptr<Zelta_AudioWrapper> copy;
  {
    std::vector<uint8_t> samples = {1, 2, 3, 4};
    Zelta_AudioWrapper wrapped(samples.data(), samples.size(), kPcm16k, {7, 999999}, Zelta_AudioPacket_Other, false);
    copy = wrapped.clone();
    samples.assign(4, 0);
    EXPECT_EQ(wrapped.data()[3], 0) << "a wrapped array is read where it is";
  }
  EXPECT_EQ(std::make_tuple(std::vector<uint8_t>(copy->data(), copy->data() + copy->size()), copy->format(),
                            copy->time(), copy->packetType()),
            std::make_tuple(std::vector<uint8_t>{1, 2, 3, 4}, kPcm16k, Zelta_AudioTime{7, 999999},
                            uint32_t{Zelta_AudioPacket_Other}));
  for (const size_t size : {0u, 3u}) EXPECT_EQ(Zelta_AudioArray(new uint8_t[size](), size, true).clone()->size(), size);
}

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
      {kALaw8k, kPcm16k, {0xD5, 0xAA}, {8, 8, 32255, 32255}},                             // each frame doubled
      {kPcm16k, {0, 8000, 2, 1}, bytesOf({1000, 3000, -500, -1500}), {2000, -1000}},      // pairs averaged
      {{0, 8000, 2, 2}, {0, 16000, 2, 1}, bytesOf({100, -100}), {100, -100, 100, -100}},  // stereo keeps its channels
      {kPcm16k, Zelta_AudioFormat(0, 11025, 2, 1), bytesOf(std::vector<int16_t>(1600, 2000)),
       std::vector<int16_t>(1102, 2000)},  // a free ratio interpolates: a constant stays constant
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    Zelta_AudioConvert convert(&c.from, &c.to);
    ASSERT_TRUE(convert.supported());
    const auto out = convert.convert(*vectorOf(c.from, c.samples));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(out->data(), out->data() + out->size()), bytesOf(c.expected));
    EXPECT_EQ(std::make_pair(out->format().sampleRate(), out->format().channels()),
              std::make_pair(c.to.sampleRate(), c.from.channels()));
    EXPECT_EQ(out->time(), (Zelta_AudioTime{7, 8}));
  }
  EXPECT_TRUE(capture.messages().empty());
}

// Rates more than 24 times apart are refused (the stream chooses the source rate), a packet that
// would convert into more than 4 MiB is dropped, and nothing to convert passes the packet through.
TEST(AudioConvert, RefusalsCapsAndPassthrough) {
  enum Outcome { kConverted, kPassedThrough, kDropped, kRefused };
  const Zelta_AudioFormat pcm192k(0, 192000, 5, 1);
  const struct {
    std::optional<Zelta_AudioFormat> from;
    Zelta_AudioFormat to;
    size_t bytes;
    Outcome outcome;
    const char* message;
  } cases[] = {
      {std::nullopt, kPcm16k, 4, kPassedThrough, "audio source did not provide data format"},
      {kPcm16k, kPcm16k, 4, kPassedThrough, "Audio conversion not available/needed, activating audio passthrough mode"},
      {kPcm16k, kALaw8k, 4, kRefused, "unsupported sample format conversion from 2 to 2"},
      {Zelta_AudioFormat(0, 1, 2, 1), kPcm16k, 4, kRefused, "unsupported sample rate conversion from 1 Hz to 16000 Hz"},
      {kPcm16k, {0, 666, 2, 1}, 4, kRefused, "unsupported sample rate conversion from 16000 Hz to 666 Hz"},
      {kALaw8k, pcm192k, 43690, kConverted, ""},  // 43690 * 24 * 4 bytes: just below 4 MiB
      {kALaw8k, pcm192k, 43691, kDropped, "audio packet of 43691 bytes would convert into 4194340 bytes, dropped"},
      {Zelta_AudioFormat(1, 8000, 2, 200), pcm192k, 65400, kDropped,
       "audio packet of 65400 bytes would convert into 6279200 bytes, dropped"},  // 200 channels
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    PrintCapture capture;
    Zelta_AudioConvert convert(c.from ? &*c.from : nullptr, &c.to);
    EXPECT_EQ(convert.supported(), c.outcome != kRefused);
    const auto in = vectorOf(c.from ? *c.from : kPcm16k, std::vector<uint8_t>(c.bytes, 0xD5));
    const auto out = convert.convert(*in);
    EXPECT_EQ(out != nullptr, c.outcome < kDropped);
    if (c.outcome == kPassedThrough && out) {
      EXPECT_EQ(out->bytes(), in->bytes());
    }
    EXPECT_TRUE(c.outcome != kConverted || !out || out->size() <= 4194304u);
    EXPECT_TRUE(!*c.message || capture.has(c.message)) << c.message;
  }
}
