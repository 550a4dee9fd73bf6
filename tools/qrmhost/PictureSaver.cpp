#include "PictureSaver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <system_error>

#include "ExitError.h"

namespace qrmhost {
namespace {

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// A codec name as a file extension: letters and digits only, "bin" when nothing is left.
std::string extensionOf(const std::string& codec) {
  std::string extension;
  for (unsigned char c : lowerCase(codec))
    if (std::isalnum(c)) extension += static_cast<char>(c);
  return extension.empty() ? "bin" : extension;
}

}  // namespace

std::string pictureFileName(uint64_t number, const std::string& codec, bool keyFrame) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%06llu", static_cast<unsigned long long>(number));
  const std::string lower = lowerCase(codec);
  const bool jpeg = lower == "mjpeg" || lower == "jpeg" || (lower == "zelta" && keyFrame);
  return std::string(digits) + "." + (jpeg ? "jpg" : extensionOf(codec));
}

PictureSaver::PictureSaver(const std::filesystem::path& directory, Console& console)
    : directory_(directory), console_(console) {
  std::error_code error;
  std::filesystem::create_directories(directory_, error);
  if (error || !std::filesystem::is_directory(directory_))
    throw ExitError(kExitOutput, "cannot use --save folder " + directory_.string() + ": " +
                                    (error ? error.message() : "not a folder"));
}

void PictureSaver::save(uint64_t number, const std::string& codec, bool keyFrame, const uint8_t* bytes, size_t size) {
  if (failed_.load()) return;
  if (lowerCase(codec) == "h264") {
    if (!appendToStream(bytes, size)) reportFailure(directory_ / kStreamFileName);
    return;
  }
  const auto path = directory_ / pictureFileName(number, codec, keyFrame);
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  file.close();
  if (file) return;
  reportFailure(path);
}

// The frames are Annex-B access units, each key frame with its parameter sets: one after the
// other they make a stream a player reads.
bool PictureSaver::appendToStream(const uint8_t* bytes, size_t size) {
  std::lock_guard<std::mutex> lock(streamMutex_);
  if (!stream_.is_open()) stream_.open(directory_ / kStreamFileName, std::ios::binary | std::ios::trunc);
  stream_.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  stream_.flush();
  return static_cast<bool>(stream_);
}

void PictureSaver::reportFailure(const std::filesystem::path& path) {
  if (!failed_.exchange(true)) console_.message("qrmhost: cannot write " + path.string() + "; saving stopped");
}

}  // namespace qrmhost
