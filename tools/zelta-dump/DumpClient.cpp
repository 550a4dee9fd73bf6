#include "DumpClient.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

namespace zeltadump {

namespace {

using Json = nlohmann::ordered_json;

void writeLine(std::ostream& out, const Json& line) {
  out << line.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n' << std::flush;
}

double rounded(double value) { return std::round(value * 100.0) / 100.0; }

Json thermalOf(const Zelta::Zelta_Image& image) {
  Json sensors = Json::array();
  std::vector<float> temperatures;
  for (int sensor = 0; sensor < 2; ++sensor) {
    const auto data = image.thermalRawData(sensor);
    if (!data) continue;
    Json entry = {{"sensor", sensor}, {"width", data->width()}, {"height", data->height()}};
    if (data->getTemperatures(Zelta::ZLT_Celsius, temperatures) && !temperatures.empty()) {
      const auto [low, high] = std::minmax_element(temperatures.begin(), temperatures.end());
      entry["min"] = rounded(*low);
      entry["max"] = rounded(*high);
    } else {
      entry["min"] = nullptr;
      entry["max"] = nullptr;
    }
    sensors.push_back(std::move(entry));
  }
  return sensors;
}

bool copyText(const std::string& text, char* buffer, size_t size) {
  if (size == 0) return false;
  const size_t length = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return true;
}

}  // namespace

PictureLines::PictureLines(std::ostream& out, std::string saveFolder)
    : m_out(out), m_saveFolder(std::move(saveFolder)) {}

int PictureLines::consume(std::unique_ptr<Zelta::Zelta_Image> image) {
  ++m_pictures;
  const Zelta::Zelta_ImageTime time = image->frameTime();
  // The sections of the text header, parsed again here: the SDK's parser belongs to its thread's
  // pipeline and this sink sees only the picture.
  Zelta::Zelta_R9ImageInfo info;
  const Zelta::Zelta_Block text = image->textHeader();
  info.parseBlocks(text.data, text.length, nullptr, 0);
  Json sections = Json::array();
  for (const auto& section : info.sections()) sections.push_back(section.first);
  writeLine(m_out, Json{{"kind", "picture"},
                        {"time_us", time.seconds * 1000000 + time.microseconds},
                        {"bytes", image->jpegSize()},
                        {"sections", sections},
                        {"thermal", thermalOf(*image)}});
  if (!m_saveFolder.empty()) save(*image);
  return 1;
}

void PictureLines::save(const Zelta::Zelta_Image& image) {
  char name[32];
  std::snprintf(name, sizeof name, "picture-%06llu.jpg", static_cast<unsigned long long>(m_pictures));
  const std::string path = m_saveFolder + "/" + name;
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(image.jpegData()), static_cast<std::streamsize>(image.jpegSize()));
  if (!file) m_saveError = "cannot write " + path;
}

void ControlLines::notifyEvent(int32_t id, const char* text) {
  ++m_messages;
  writeLine(m_out, Json{{"kind", "control"}, {"id", id}, {"text", text ? text : ""}});
}

int AudioLines::consume(std::shared_ptr<Zelta::Zelta_Audio> audio) {
  ++m_packets;
  writeLine(m_out, Json{{"kind", "audio"}, {"bytes", audio ? audio->size() : 0}});
  return 1;
}

bool Credentials::getUserName(char* buffer, size_t size) { return copyText(m_user, buffer, size); }
bool Credentials::getPassword(char* buffer, size_t size) { return copyText(m_password, buffer, size); }

std::string withoutCredentials(std::string text, const std::string& password) {
  if (!password.empty())
    for (size_t at = text.find(password); at != std::string::npos; at = text.find(password, at))
      text.replace(at, password.size(), "***");
  const std::string basic = "Authorization: Basic ";
  for (size_t at = text.find(basic); at != std::string::npos; at = text.find(basic, at + basic.size())) {
    const size_t token = at + basic.size();
    const size_t end = text.find_first_of("\r\n", token);
    text.replace(token, (end == std::string::npos ? text.size() : end) - token, "***");
  }
  return text;
}

}  // namespace zeltadump
