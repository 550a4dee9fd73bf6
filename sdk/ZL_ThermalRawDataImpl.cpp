#include "ZL_ThermalRawDataImpl.h"

#include <lz4.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "Zelta_Print.h"
#include "Zelta_ThermalKernels.h"

namespace Zelta {
namespace {

constexpr double kKelvinOffset = 273.15;
constexpr uint16_t kRawMask = 0x3FFF;

// Celsius per raw step for a gain; 0 for gains without a conversion.
double stepFor(int gain) { return gain == 0 ? 0.04 : gain == 1 ? 0.4 : 0.0; }

float celsiusToUnit(double celsius, int unit) {
  return static_cast<float>(unit == ZLT_Fahrenheit ? celsius * 1.8 + 32 : celsius);
}

// Plain pointer loops, so that the compiler vectorises them; built twice, for AVX2 (four doubles
// per instruction) and for the baseline x86-64, the loader picking the one the processor runs.
// Not under a sanitizer: the loader runs the picking code before the sanitizer's runtime is up.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define ZELTA_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
#define ZELTA_SANITIZED 1
#endif
#endif
#if defined(__x86_64__) && !defined(ZELTA_SANITIZED)
#define ZELTA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ZELTA_VECTOR_CLONES
#endif

ZELTA_VECTOR_CLONES void interleave(const uint8_t* low, const uint8_t* high, uint16_t* out, size_t n) {
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint16_t>(low[i] | high[i] << 8);
}

// Fahrenheit: double precision as for a single pixel, in a plain loop over the planes that the
// compiler vectorises.
ZELTA_VECTOR_CLONES void planesToFahrenheit(const uint8_t* low, const uint8_t* high, float* out, size_t n,
                                            double step) {
  for (size_t i = 0; i < n; ++i)
    out[i] = static_cast<float>((((low[i] | high[i] << 8) & kRawMask) * step - kKelvinOffset) * 1.8 + 32);
}

}  // namespace

int ZL_ThermalRawDataImpl::readBitDepth(const uint8_t* header) {
  ZELTA_CHECK((header != nullptr));
  const int depth = header[9] & 3;
  if (depth != ZLT_BitDepth_14) Zelta_Print::message("Unsupported bit depth in ZLT header");
  return depth;
}

ZL_ThermalRawDataImpl::Fields ZL_ThermalRawDataImpl::readFields(const uint8_t* header) {
  Fields f;
  f.version = header[8] & 3;
  f.index = (header[8] >> 2) & 15;
  f.compressed = (header[8] & 0x40) != 0;
  f.sensor = header[8] >> 7;
  f.bitDepth = readBitDepth(header);
  f.advancedRadiometry = (header[9] & 4) != 0;
  f.gain = (header[9] & 8) ? 0 : 1;
  f.width = (header[9] >> 4) | (header[10] & 63) << 4;
  f.height = (header[10] >> 6) | header[11] << 2;
  return f;
}

ZL_ThermalRawDataImpl::ZL_ThermalRawDataImpl(const uint8_t* header, std::shared_ptr<Zelta_FrameBuffers> buffers)
    : m_buffers(buffers ? std::move(buffers) : std::make_shared<Zelta_FrameBuffers>()),
      m_data(m_buffers->bytes.take()),
      m_pixels(m_buffers->pixels.take()) {
  const Fields f = readFields(header);
  m_bitDepth = f.bitDepth;
  m_sensor = f.sensor;
  m_advancedRadiometry = f.advancedRadiometry;
  m_compressed = f.compressed;
  m_gain = f.gain;
  m_width = f.width;
  m_height = f.height;
  m_expectedSize = static_cast<size_t>(m_width) * m_height;
  if (m_bitDepth == ZLT_BitDepth_14)
    m_expectedSize *= 2;
  else
    Zelta_Print::message("Failed to calculate expected data size");
  m_data.reserve(m_expectedSize);
}

ZL_ThermalRawDataImpl::~ZL_ThermalRawDataImpl() {
  m_buffers->bytes.give(std::move(m_data));
  m_buffers->pixels.give(std::move(m_pixels));
}

bool ZL_ThermalRawDataImpl::headerMatches(const Fields& block) const {
  if (block.version >= 2) {
    Zelta_Print::message("Unsupported thermal header version - please check for a more recent version of the SDK");
    return false;
  }
  if (block.index != m_expectedIndex) {
    Zelta_Print::message(
        concat("Thermal header contains invalid block index ", block.index, ", expected index was ", m_expectedIndex));
    return false;
  }
  if (block.bitDepth != m_bitDepth) {
    Zelta_Print::message("Thermal header contains invalid bit depth");
    return false;
  }
  if (block.gain != m_gain) {
    Zelta_Print::message("Thermal header contains invalid gain");
    return false;
  }
  if (block.sensor != m_sensor) {
    Zelta_Print::message("Thermal header contains invalid sensor");
    return false;
  }
  if (block.advancedRadiometry != m_advancedRadiometry) {
    Zelta_Print::message(concat("Thermal header contains invalid ar raidiometry flag: got:", block.advancedRadiometry,
                                " !=  expected: ", m_advancedRadiometry));
    return false;
  }
  if (block.compressed != m_compressed) {
    Zelta_Print::message(concat("Thermal header contains invalid compression flag: got:", block.compressed,
                                " !=  expected: ", m_compressed));
    return false;
  }
  if (block.width != m_width || block.height != m_height) {
    Zelta_Print::message(concat("Thermal header contains invalid size: got:", block.width, "x", block.height,
                                " !=  expected: ", m_width, "x", m_height));
    return false;
  }
  return true;
}

bool ZL_ThermalRawDataImpl::appendBlock(const uint8_t* header, const uint8_t* data, size_t length) {
  const Fields block = readFields(header);
  // Blocks after the first access would change data already handed out.
  if (m_decoded || !headerMatches(block)) {
    Zelta_Print::message(concat(
        "Invalid thermal data - header does not match expected type. dropping header block index ", block.index));
    return false;
  }
  appendTo(m_data, data, length);
  ++m_expectedIndex;
  return true;
}

void ZL_ThermalRawDataImpl::decompress() {
  // Into a second buffer of the pool (its bytes not cleared: LZ4 writes what is read later),
  // which then changes places with the collected bytes; those go back to the pool.
  Zelta_RawBuffer<uint8_t> planes = m_buffers->bytes.take();
  planes.resize(m_expectedSize);
  const int result =
      LZ4_decompress_safe(reinterpret_cast<const char*>(m_data.data()), reinterpret_cast<char*>(planes.data()),
                          static_cast<int>(m_data.size()), static_cast<int>(m_expectedSize));
  if (result < 0) {
    Zelta_Print::message(concat("Decompression failed after reading ", -result, " bytes"));
    m_buffers->bytes.give(std::move(planes));
    return;  // the collected bytes stay as they were
  }
  if (static_cast<size_t>(result) != m_expectedSize)
    Zelta_Print::message(
        concat("Decompression extracted an unexpected amount of bytes ", result, " expected: ", m_expectedSize));
  m_data.swap(planes);
  m_buffers->bytes.give(std::move(planes));
  // The camera sends all low bytes, then all high bytes: pixel i is low[i] + 256 × high[i].
  m_pixelCount = static_cast<size_t>(result) / 2;
  m_planar = true;
  m_compressed = false;
}

bool ZL_ThermalRawDataImpl::decode() {
  if (m_decoded) return m_usable;
  m_decoded = true;
  if (m_compressed) {
    decompress();
    if (m_compressed) return false;
  } else {
    m_pixelCount = m_data.size() / 2;  // little-endian pairs
  }
  const size_t pixels = static_cast<size_t>(m_width) * m_height;
  m_usable = m_pixelCount >= pixels && pixels > 0;
  if (!m_usable)
    Zelta_Print::message(
        concat("Thermal data too short, no temperatures: got ", m_pixelCount * 2, " bytes, expected ", pixels * 2));
  return m_usable;
}

uint16_t ZL_ThermalRawDataImpl::rawAt(size_t i) const {
  return m_planar ? static_cast<uint16_t>(m_data[i] | m_data[m_pixelCount + i] << 8)
                  : static_cast<uint16_t>(m_data[2 * i] | m_data[2 * i + 1] << 8);
}

size_t ZL_ThermalRawDataImpl::dataSize() {
  decode();
  return m_compressed ? m_data.size() : m_pixelCount * 2;
}

const uint16_t* ZL_ThermalRawDataImpl::data() {
  if (!decode()) return nullptr;
  if (m_pixels.empty()) {
    m_pixels.resize(m_pixelCount);
    if (m_planar)
      interleave(m_data.data(), m_data.data() + m_pixelCount, m_pixels.data(), m_pixelCount);
    else
      for (size_t i = 0; i < m_pixelCount; ++i) m_pixels[i] = rawAt(i);
  }
  return m_pixels.data();
}

float ZL_ThermalRawDataImpl::getTemperature(unsigned x, unsigned y, int unit) {
  if (!m_advancedRadiometry) {
    Zelta_Print::message(
        "Conversion to absolute temperatures only supported for sensors with advanced radiometry support");
    return std::numeric_limits<float>::quiet_NaN();
  }
  if (x >= m_width || y >= m_height) {
    Zelta_Print::message(concat("Invalid pixel coordinate ", x, "x", y));
    return std::numeric_limits<float>::quiet_NaN();
  }
  if (!decode()) return std::numeric_limits<float>::quiet_NaN();
  if (m_bitDepth != ZLT_BitDepth_14) return 0.0f;
  const double step = stepFor(m_gain);
  if (step == 0.0) return 0.0f;
  return celsiusToUnit((rawAt(static_cast<size_t>(y) * m_width + x) & kRawMask) * step - kKelvinOffset, unit);
}

bool ZL_ThermalRawDataImpl::fillTemperatures(int unit, std::vector<float>& out, uint16_t& above) {
  above = 0;
  if (!m_advancedRadiometry) {
    Zelta_Print::message(
        "Conversion to absolute temperatures only supported for sensors with advanced radiometry support");
    return false;
  }
  if (!decode()) return false;
  const size_t pixels = static_cast<size_t>(m_width) * m_height;
  out.resize(pixels);
  if (m_bitDepth != ZLT_BitDepth_14 || stepFor(m_gain) == 0.0) {
    std::fill(out.begin(), out.end(), 0.0f);
    return true;
  }
  const uint8_t* low = m_data.data();
  const uint8_t* high = m_planar ? low + m_pixelCount : low + 1;
  if (unit != ZLT_Fahrenheit && m_planar)
    above = celsiusKernel().fromPlanes(low, high, out.data(), pixels, celsiusScale(m_gain));
  else if (unit != ZLT_Fahrenheit)
    above = celsiusKernel().fromPairs(low, out.data(), pixels, celsiusScale(m_gain));
  else if (m_planar)
    planesToFahrenheit(low, high, out.data(), pixels, stepFor(m_gain));
  else
    for (size_t i = 0; i < pixels; ++i)
      out[i] = celsiusToUnit((rawAt(i) & kRawMask) * stepFor(m_gain) - kKelvinOffset, unit);
  return true;
}

}  // namespace Zelta
