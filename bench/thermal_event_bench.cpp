// A thermal camera's picture from the wire to the host's event, per 640 × 480 matrix: the SDK's
// decoder cuts the picture and collects its ZLT blocks, LZ4 decompression and planes, the
// driver's conversion to °C, the float matrix and the periodical event to a host handler;
// against LZ4_decompress_safe alone on the same block. Ratio: time of the path over time of the
// decompression (goal at most 3).
#include <benchmark/benchmark.h>
#include <lz4.h>

#include <string>
#include <vector>

#include "EventStream.h"
#include "Zelta_Decoder.h"
#include "Zelta_ImageImpl_SDK.h"
#include "Zelta_Print.h"
#include "host/Nuvlet/Analytics.h"
#include "host/Nuvlet/EventRaiser.h"
#include "tests/sdk/StreamBuilder.h"

namespace sb = streambuilder;

namespace {

constexpr unsigned kWidth = 640;
constexpr unsigned kHeight = 480;

// A warm gradient with a hot spot and sensor noise in the low bits.
std::vector<uint16_t> scene() {
  std::vector<uint16_t> raw(kWidth * kHeight);
  uint32_t noise = 12345;
  for (unsigned y = 0; y < kHeight; ++y)
    for (unsigned x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245u + 12345u;
      const bool hot = x > 300 && x < 360 && y > 200 && y < 260;
      raw[y * kWidth + x] = static_cast<uint16_t>((hot ? 8500 : 7300 + x / 4 + y / 8) + (noise >> 29));
    }
  return raw;
}

struct Input {
  std::string picture;     // a JPEG picture with its ZLT blocks
  std::string compressed;  // the blocks' data joined: the whole LZ4 block
};

const Input& input() {
  static const Input in = [] {
    Input made;
    sb::ThermalBlock header;
    header.width = kWidth;
    header.height = kHeight;
    header.compressed = true;
    const auto segments = sb::thermalSegments(header, scene(), 3);
    std::vector<std::string> payloads;
    for (const auto& s : segments) {
      payloads.push_back(s.substr(4));  // the COM payload from "ZLT\0" on
      made.compressed += s.substr(12);
    }
    made.picture = sb::picture(payloads, 20000, 7);
    return made;
  }();
  return in;
}

// Takes the event as a host does, reading the matrix.
class Host : public Talvo::GDRV::IVideoAnalyticsHandler, public Talvo::Analytics::IPeriodicalEventHandler {
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
  const Input& in = input();
  Host host;
  const Talvo::Utility::Detector::EventFactory events(nullptr, &host);
  Zelta::Zelta_Decoder decoder;
  for (auto _ : state) {
    Zelta::Zelta_ImageImpl_SDK image(reinterpret_cast<const uint8_t*>(in.picture.data()), in.picture.size());
    if (!decoder.decode(image)) state.SkipWithError("picture not decoded");
    const auto data = image.thermalRawData(0);
    const uint16_t* raw = data ? data->data() : nullptr;
    if (!raw) {
      state.SkipWithError("no thermal data");
      break;
    }
    std::vector<float> temperatures;
    if (Vantrel::ThermalConversion::convert(raw, kWidth * kHeight, temperatures) >= 0) state.SkipWithError("broken");
    auto matrix = Talvo::Utility::FloatMatrix::create(1700000000000, std::move(temperatures), kWidth, kHeight);
    events.RaisePeriodicalEvent("TemperatureMatrix", matrix->timeMs(), "temperatures")
        ->set("TemperatureMatrix", matrix);
    benchmark::DoNotOptimize(host.last);
  }
}

void BM_Lz4DecompressAlone(benchmark::State& state) {
  const Input& in = input();
  std::vector<char> out(kWidth * kHeight * 2);
  for (auto _ : state) {
    const int n = LZ4_decompress_safe(in.compressed.data(), out.data(), static_cast<int>(in.compressed.size()),
                                      static_cast<int>(out.size()));
    if (n != static_cast<int>(out.size())) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.data());
  }
}

}  // namespace

BENCHMARK(BM_ThermalWireToEvent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lz4DecompressAlone)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
