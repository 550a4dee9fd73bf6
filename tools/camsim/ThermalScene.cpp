#include "ThermalScene.h"

#include <lz4.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>

#include <nlohmann/json.hpp>

namespace camsim {

namespace {

constexpr std::size_t kMaxBlockData = 65000;  // a COM segment holds at most 65 533 bytes
constexpr int kMaxBlocks = 16;                // the header's block index has four bits

std::optional<double> parseCelsius(const std::string& text) {
  try {
    std::size_t used = 0;
    const double value = std::stod(text, &used);
    if (used != text.size() || !(value >= -273.15) || value > 380.0) return std::nullopt;
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<HotSpot> parseHotSpot(const std::string& text) {
  std::vector<std::string> parts;
  std::istringstream list(text);
  for (std::string part; std::getline(list, part, ',');) parts.push_back(part);
  if (parts.size() != 5) return std::nullopt;
  HotSpot hot;
  const auto celsius = parseCelsius(parts[0]);
  const auto x = parseNumber(parts[1], 0, ThermalScene::kWidth - 1);
  const auto y = parseNumber(parts[2], 0, ThermalScene::kHeight - 1);
  const auto w = parseNumber(parts[3], 1, ThermalScene::kWidth);
  const auto h = parseNumber(parts[4], 1, ThermalScene::kHeight);
  if (!celsius || !x || !y || !w || !h) return std::nullopt;
  return HotSpot{*celsius, static_cast<int>(*x), static_cast<int>(*y), static_cast<int>(*w), static_cast<int>(*h)};
}

std::uint16_t rawFor(double celsius, int gain) {
  const long raw = std::lround((celsius + 273.15) / (gain == 0 ? 0.04 : 0.4));
  return static_cast<std::uint16_t>(std::clamp(raw, 0L, 16383L));
}

// Header bytes 8-11 of a ZLT segment: version 0, block index, compression, sensor; bit depth 0,
// advanced radiometry, gain flag (set: gain 0), the 10-bit width and height.
std::string blockHeader(int index, bool compressed, int sensor, int gain) {
  const unsigned w = ThermalScene::kWidth, h = ThermalScene::kHeight;
  return {static_cast<char>((index & 15) << 2 | (compressed ? 0x40 : 0) | (sensor ? 0x80 : 0)),
          static_cast<char>(0x04 | (gain == 0 ? 0x08 : 0) | (w & 15) << 4), static_cast<char>((w >> 4 & 63) | (h & 3) << 6),
          static_cast<char>(h >> 2 & 0xFF)};
}

std::string comSegment(const std::string& payload) {
  const std::size_t length = payload.size() + 2;
  return std::string{'\xFF', '\xFE', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + payload;
}

std::string pixelBytes(const std::vector<std::uint16_t>& raw, bool compressed) {
  std::string bytes(raw.size() * 2, '\0');
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (compressed) {  // planes: all low bytes, then all high bytes
      bytes[i] = static_cast<char>(raw[i] & 0xFF);
      bytes[raw.size() + i] = static_cast<char>(raw[i] >> 8);
    } else {  // little-endian pairs
      bytes[2 * i] = static_cast<char>(raw[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(raw[i] >> 8);
    }
  }
  if (!compressed) return bytes;
  std::string packed(LZ4_compressBound(static_cast<int>(bytes.size())), '\0');
  const int size =
      LZ4_compress_default(bytes.data(), &packed[0], static_cast<int>(bytes.size()), static_cast<int>(packed.size()));
  packed.resize(size > 0 ? size : 0);
  return packed;
}

}  // namespace

ThermalSettingsParse parseThermalSettings(const Target& target, ThermalSettings settings) {
  if (target.has("tin") || target.has("tou")) settings.tin = settings.tou = std::nullopt;
  for (const QueryItem& item : target.query) {
    if (item.name == "celsius") {
      const auto celsius = parseCelsius(item.value);
      if (!celsius) return {std::nullopt, "celsius must be a temperature from -273.15 to 380"};
      settings.celsius = *celsius;
    } else if (item.name == "sensor1") {
      if (item.value.empty()) {
        settings.sensor1Celsius.reset();
        continue;
      }
      settings.sensor1Celsius = parseCelsius(item.value);
      if (!settings.sensor1Celsius) return {std::nullopt, "sensor1 must be a temperature from -273.15 to 380"};
    } else if (item.name == "hot") {
      if (item.value.empty()) {
        settings.hot.reset();
        continue;
      }
      settings.hot = parseHotSpot(item.value);
      if (!settings.hot) return {std::nullopt, "hot is t,x,y,w,h inside the 160x120 sensor"};
    } else if (item.name == "sensors") {
      const auto sensors = parseNumber(item.value, 1, 2);
      if (!sensors) return {std::nullopt, "sensors is 1 or 2"};
      settings.sensors = static_cast<int>(*sensors);
    } else if (item.name == "compressed") {
      const auto compressed = parseNumber(item.value, 0, 1);
      if (!compressed) return {std::nullopt, "compressed is 0 or 1"};
      settings.compressed = *compressed == 1;
    } else if (item.name == "blocks") {
      const auto blocks = parseNumber(item.value, 1, kMaxBlocks);
      if (!blocks) return {std::nullopt, "blocks is 1 to 16"};
      settings.blocks = static_cast<int>(*blocks);
    } else if (item.name == "gain") {
      const auto gain = parseNumber(item.value, 0, 1);
      if (!gain) return {std::nullopt, "gain is 0 or 1"};
      settings.gain = static_cast<int>(*gain);
    } else if (item.name == "tin" || item.name == "tou") {
      if (item.value.empty()) continue;
      const auto celsius = parseCelsius(item.value);
      if (!celsius) return {std::nullopt, item.name + " must be a temperature from -273.15 to 380"};
      (item.name == "tin" ? settings.tin : settings.tou) = *celsius;
    } else if (item.name == "tit") {
      if (item.value.find_first_of("\r\n") != std::string::npos) return {std::nullopt, "tit must be one line"};
      settings.tit = item.value.empty() ? std::nullopt : std::optional<std::string>(item.value);
    } else {
      return {std::nullopt, "celsius, sensor1, hot, sensors, compressed, blocks, gain, tin, tou or tit expected"};
    }
  }
  return {settings, ""};
}

std::string thermalSettingsJson(const ThermalSettings& settings) {
  nlohmann::ordered_json answer = {{"celsius", settings.celsius},       {"sensors", settings.sensors},
                                   {"compressed", settings.compressed}, {"blocks", settings.blocks},
                                   {"gain", settings.gain},
                                   {"width", ThermalScene::kWidth},     {"height", ThermalScene::kHeight}};
  if (settings.hot) {
    const HotSpot& hot = *settings.hot;
    answer["hot"] = {{"celsius", hot.celsius}, {"x", hot.x}, {"y", hot.y}, {"w", hot.width}, {"h", hot.height}};
  }
  if (settings.sensor1Celsius) answer["sensor1"] = *settings.sensor1Celsius;
  if (settings.tin) answer["tin"] = *settings.tin;
  if (settings.tou) answer["tou"] = *settings.tou;
  if (settings.tit) answer["tit"] = *settings.tit;
  return answer.dump() + "\n";
}

std::string deviceTemperatureText(const ThermalSettings& settings, const std::string& message,
                                  std::uint64_t nowSeconds) {
  const auto number = [](double value) {
    std::ostringstream text;
    text << value;
    return text.str();
  };
  const std::pair<std::string, std::optional<std::string>> variables[] = {
      {"$(FPR.TIT)", settings.tit ? *settings.tit : std::to_string(nowSeconds)},
      {"$(SEN.TIN.CELSIUS)", settings.tin ? std::optional<std::string>(number(*settings.tin)) : std::nullopt},
      {"$(SEN.TOU.CELSIUS)", settings.tou ? std::optional<std::string>(number(*settings.tou)) : std::nullopt},
  };
  std::string answer;
  std::string line;
  const auto takeLine = [&] {
    bool missing = false;
    for (const auto& variable : variables) {
      const std::size_t at = line.find(variable.first);
      if (at == std::string::npos) continue;
      if (variable.second)
        line.replace(at, variable.first.size(), *variable.second);
      else
        missing = true;
    }
    if (!missing && !line.empty()) answer += line + "\r\n";
    line.clear();
  };
  for (const char c : message) {
    if (c == '\r' || c == '\n')
      takeLine();
    else
      line += c;
  }
  takeLine();
  return answer;
}

ThermalSettings ThermalScene::settings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return settings_;
}

void ThermalScene::set(const ThermalSettings& settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  settings_ = settings;
}

Reply thermalControl(ThermalScene& scene, const Target& target) {
  const ThermalSettingsParse parsed = parseThermalSettings(target, scene.settings());
  if (!parsed.settings) return Reply::text(400, parsed.error + "\r\n");
  scene.set(*parsed.settings);
  Reply reply = Reply::text(200, thermalSettingsJson(*parsed.settings));
  reply.contentType = "application/json";
  return reply;
}

std::vector<std::uint16_t> thermalRawValues(const ThermalSettings& settings, int sensor) {
  const double background = sensor == 1 && settings.sensor1Celsius ? *settings.sensor1Celsius : settings.celsius;
  std::vector<std::uint16_t> raw(static_cast<std::size_t>(ThermalScene::kWidth) * ThermalScene::kHeight,
                                 rawFor(background, settings.gain));
  if (!settings.hot) return raw;
  const HotSpot& hot = *settings.hot;
  const std::uint16_t hotRaw = rawFor(hot.celsius, settings.gain);
  for (int y = hot.y; y < std::min(hot.y + hot.height, ThermalScene::kHeight); ++y)
    for (int x = hot.x; x < std::min(hot.x + hot.width, ThermalScene::kWidth); ++x)
      raw[static_cast<std::size_t>(y) * ThermalScene::kWidth + x] = hotRaw;
  return raw;
}

std::vector<std::string> thermalSegments(const ThermalSettings& settings, int sensor) {
  const std::string data = pixelBytes(thermalRawValues(settings, sensor), settings.compressed);
  const std::size_t needed = (data.size() + kMaxBlockData - 1) / kMaxBlockData;
  const std::size_t blocks = std::min<std::size_t>(kMaxBlocks, std::max<std::size_t>(settings.blocks, needed));
  const std::size_t piece = (data.size() + blocks - 1) / blocks;
  std::vector<std::string> segments;
  for (std::size_t i = 0; i < blocks; ++i) {
    const std::size_t from = std::min(data.size(), i * piece);
    segments.push_back(comSegment(std::string("ZLT\0", 4) +
                                  blockHeader(static_cast<int>(i), settings.compressed, sensor, settings.gain) +
                                  data.substr(from, piece)));
  }
  return segments;
}

}  // namespace camsim
