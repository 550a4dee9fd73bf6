// The Zelta SDK's hot paths against their floors, each pair on the same bytes in one run:
// - an in-memory event stream of 1080p-like pictures through the event-stream source (in 64 KiB
//   receives, as a socket delivers them) and the packetizer, against one memchr pass;
// - a 640 × 480 thermal frame, LZ4-compressed in ZLT blocks, to a vector of Celsius values,
//   against LZ4_decompress_safe alone on the same block.
// - the same frame as a thermal camera sends it inside a picture, from the wire to the host's
//   event: the SDK's picture copy and decoder, decompression, the driver's conversion to °C
//   (from the planes, values above 16383 looked for), the float matrix and the periodical event
//   to a host handler.
// Each path keeps across frames what its owner keeps in the product: the decoder (with its
// collector and buffer pool), the reader's vector, the driver's matrix pool.
// Ratios: bytes/s of the parser over bytes/s of memchr (goal at least 0.5); time of the thermal
// path over time of the decompression (goal at most 2); time of the wire-to-event path over time
// of the decompression (goal at most 3).
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Zelta_PacketizerEventstream.h"
#include "Zelta_Print.h"
#include "Zelta_SourceESEventStream.h"
#include "EventStream.h"
#include "Zelta_Decoder.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_ThermalFrameCollector.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/EventRaiser.h"
#include "host/Nuvlet/FloatMatrixPool.h"
#include "tests/sdk/ScriptedConnection.h"
#include "tests/sdk/StreamBuilder.h"

namespace sb = streambuilder;

namespace {

constexpr int kPictures = 24;

// Pictures of about 400 KB each (a 1080p JPEG at good quality), with their header blocks, a
// control segment between every few.
const std::string& recordedStream() {
  static const std::string stream = [] {
    std::string s = "HTTP/1.0 200 OK\r\n\r\n" + sb::control("{\"id\":0,\"result\":\"eventstream\"}");
    for (int i = 0; i < kPictures; ++i) {
      s += sb::picture({"#:R9IMG\nSECTION IMAGE\nW=1920\nH=1080\nENDSECTION IMAGE\n", sb::zlf(1000000ull * i)}, 400000,
                       i + 1);
      if (i % 4 == 0) s += sb::control("{\"id\":" + std::to_string(i) + ",\"result\":true}");
    }
    return s;
  }();
  return stream;
}

void BM_SegmentParsing(benchmark::State& state) {
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  const std::string& stream = recordedStream();
  size_t pictures = 0;
  for (auto _ : state) {
    auto connection = std::make_shared<ScriptedConnection>();
    auto info = std::make_shared<Zelta::Zelta_StreamInfo>();
    auto source = std::make_shared<Zelta::Zelta_SourceESEventStream>("http://cam/control/eventstream.jpg", nullptr,
                                                                     connection, nullptr, info);
    Zelta::Zelta_PacketizerEventstream packetizer(source, info);
    connection->feedBorrowed(stream, {65536});
    Zelta::Zelta_Frame frame;
    while (!connection->drained()) {
      Zelta::Zelta_SourceAsyncNet::async_network_loop(source.get());
      while (packetizer.nextFrame(&frame) == 0 && frame.length > 0) ++pictures;
    }
    while (packetizer.nextFrame(&frame) == 0 && frame.length > 0) ++pictures;
    while (source->takeControlSegment()) {
    }
  }
  if (pictures != static_cast<size_t>(kPictures) * state.iterations()) state.SkipWithError("pictures lost");
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
  Zelta::Zelta_Print::setSink(nullptr);
}

void BM_MemchrFloor(benchmark::State& state) {
  const std::string& stream = recordedStream();
  for (auto _ : state) {
    size_t marks = 0;
    const char* p = stream.data();
    const char* end = p + stream.size();
    while ((p = static_cast<const char*>(std::memchr(p, 0xFF, static_cast<size_t>(end - p))))) {
      ++marks;
      ++p;
    }
    benchmark::DoNotOptimize(marks);
  }
  state.SetBytesProcessed(static_cast<int64_t>(stream.size()) * state.iterations());
}

// A thermal scene: a warm gradient, a hot spot, sensor noise in the low bits.
std::vector<uint16_t> thermalScene() {
  std::mt19937 random(7);
  std::vector<uint16_t> raw(640 * 480);
  for (unsigned y = 0; y < 480; ++y)
    for (unsigned x = 0; x < 640; ++x) {
      const bool hot = x > 300 && x < 340 && y > 200 && y < 260;
      raw[y * 640 + x] = static_cast<uint16_t>(sb::rawFor(hot ? 80.0 : 18.0 + x / 64.0) + (random() & 7));
    }
  return raw;
}

struct ThermalInput {
  std::vector<std::string> segments;  // the ZLT blocks
  std::string compressed;             // their data joined: the whole LZ4 block
  std::string picture;                // a picture carrying the blocks
};

const ThermalInput& thermalInput() {
  static const ThermalInput input = [] {
    ThermalInput in;
    sb::ThermalBlock header;
    header.width = 640;
    header.height = 480;
    header.compressed = true;
    in.segments = sb::thermalSegments(header, thermalScene(), 3);
    std::vector<std::string> payloads;
    for (const auto& s : in.segments) {
      in.compressed += s.substr(12);
      payloads.push_back(s.substr(4));  // the COM payload from "ZLT\0" on
    }
    in.picture = sb::picture(payloads, 20000, 7);
    return in;
  }();
  return input;
}

void BM_ThermalToCelsius(benchmark::State& state) {
  const ThermalInput& input = thermalInput();
  std::vector<float> celsius;                    // the reader's vector, reused frame after frame
  Zelta::Zelta_ThermalFrameCollector collector;  // the decoder's, picture after picture
  for (auto _ : state) {
    for (const auto& s : input.segments) collector.addSegment(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    const auto sensors = collector.finish();
    if (!sensors[0]->getTemperatures(Zelta::ZLT_Celsius, celsius) || celsius.size() != 640u * 480u)
      state.SkipWithError("no temperatures");
    benchmark::DoNotOptimize(celsius.data());
  }
}

// Takes the periodical event as a host does, reading the matrix.
class MatrixHost : public Talvo::GDRV::IVideoAnalyticsHandler, public Talvo::Analytics::IPeriodicalEventHandler {
 public:
  void* Cast(const char* typeName) override { return QueryContract(typeName); }
  void* QueryContract(const char* typeName) override {
    if (Talvo::isContractName<Talvo::Analytics::IPeriodicalEventHandler>(typeName))
      return static_cast<Talvo::Analytics::IPeriodicalEventHandler*>(this);
    return Talvo::isContractName<Talvo::GDRV::IVideoAnalyticsHandler>(typeName) ? this : nullptr;
  }
  void Failed(Talvo::IContract*, int32_t) override {}
  void Started(Talvo::IContract*) override {}
  void Stopped(Talvo::IContract*) override {}
  void Event(Talvo::IContract*, const char*, Talvo::GDRV::EventPhase, uint64_t, const char*, const char*) override {}
  void Data(Talvo::IContract*, const char*, uint64_t, const char*) override {}
  void PeriodicalEvent(Talvo::IContract*, const char*, uint64_t, const char*,
                       Talvo::Analytics::IEventPropertySet* properties) override {
    last = properties->GetBuffer(0)->GetBuffer()[0];
  }
  uint8_t last = 0;
};

void BM_ThermalWireToEvent(benchmark::State& state) {
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  const ThermalInput& input = thermalInput();
  MatrixHost host;
  const Talvo::Utility::Detector::EventFactory events(nullptr, &host);
  Zelta::Zelta_Decoder decoder;
  const auto matrices = Talvo::Utility::FloatMatrixPool::create();
  for (auto _ : state) {
    Zelta::Zelta_ImageImpl_SDK image(reinterpret_cast<const uint8_t*>(input.picture.data()), input.picture.size(),
                                     Zelta::Zelta_ImageMode_Jpeg, decoder.buffers());
    const auto data = decoder.decode(image) ? image.thermalRawData(0) : nullptr;
    std::vector<float> temperatures = matrices->take(640 * 480);
    if (!data || Vantrel::ThermalConversion::convert(*data, temperatures) != Vantrel::ThermalConversion::kConverted) {
      state.SkipWithError("no temperatures");
      break;
    }
    auto matrix = matrices->matrix(1700000000000, std::move(temperatures), 640, 480);
    events.RaisePeriodicalEvent("TemperatureMatrix", matrix->timeMs(), "temperatures")
        ->set("TemperatureMatrix", matrix);
    benchmark::DoNotOptimize(host.last);
  }
  Zelta::Zelta_Print::setSink(nullptr);
}

void BM_Lz4DecompressFloor(benchmark::State& state) {
  const ThermalInput& input = thermalInput();
  std::vector<char> out(640 * 480 * 2);
  for (auto _ : state) {
    const int n = LZ4_decompress_safe(input.compressed.data(), out.data(), static_cast<int>(input.compressed.size()),
                                      static_cast<int>(out.size()));
    if (n != static_cast<int>(out.size())) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.data());
  }
}

}  // namespace

BENCHMARK(BM_SegmentParsing)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemchrFloor)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThermalToCelsius)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lz4DecompressFloor)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ThermalWireToEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
