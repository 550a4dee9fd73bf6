// --save DIR of `live`: every picture in its own file, numbered in arrival order; an H.264
// stream goes whole, in arrival order, into one Annex-B file "stream.h264" that players read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "Console.h"

namespace qrmhost {

// The file name of picture `number`: "000001.jpg" for a key picture or any MJPEG/JPEG picture,
// "000002.zelta" for a Zelta delta picture, else the codec name in lower case as the extension.
std::string pictureFileName(uint64_t number, const std::string& codec, bool keyFrame);

// Any thread may save. After the first write error it reports once and saves nothing more.
class PictureSaver {
 public:
  // Creates `directory` if needed; throws ExitError (output status 4) when it cannot.
  PictureSaver(const std::filesystem::path& directory, Console& console);

  void save(uint64_t number, const std::string& codec, bool keyFrame, const uint8_t* bytes, size_t size);

  // True after a write failed (qrmhost then exits with the output status).
  bool failed() const { return failed_.load(); }

  static constexpr const char* kStreamFileName = "stream.h264";

 private:
  bool appendToStream(const uint8_t* bytes, size_t size);
  void reportFailure(const std::filesystem::path& path);

  const std::filesystem::path directory_;
  Console& console_;
  std::atomic<bool> failed_{false};
  std::mutex streamMutex_;  // the stream file
  std::ofstream stream_;
};

}  // namespace qrmhost
