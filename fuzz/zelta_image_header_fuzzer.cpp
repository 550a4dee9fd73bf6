// The picture header parser (R9IMG text, ZLF time block and records) over any bytes: once as a
// whole picture, once as the two blocks handed in directly (byte 0 splits the rest); every
// window found maps points.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Zelta_Print.h"
#include "Zelta_R9ImageInfo.h"

// Maps points through every window the header described (corners, middle, outside), so that the
// sanitizers see the arithmetic on the camera's numbers.
static void useWindows(const Zelta::Zelta_R9ImageInfo& info) {
  for (const auto& [section, windows] : info.windows())
    for (const auto& window : windows) {
      for (const double at : {-1.0, 0.0, 0.5, 1.0, 1e9}) {
        window->windowPoint(window->left + at * window->width(), window->top + at * window->height());
        if (auto* ptz = dynamic_cast<const Zelta::Zelta_PTZWindow*>(window.get()))
          ptz->sensorPoint(window->left + at * window->width(), window->top + at * window->height());
        if (auto* deskew = dynamic_cast<const Zelta::Zelta_DeskewWindow*>(window.get())) deskew->picturePoint(at, at);
      }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Zelta::Zelta_Print::setSink([](Zelta::Zelta_PrintKind, const std::string&) {});
  const std::vector<uint8_t> picture(data, data + size);  // exact size, so the sanitizer sees overreads
  Zelta::Zelta_R9ImageInfo info;
  info.parseFrame(picture.data(), picture.size());
  useWindows(info);
  if (size > 1) {
    const size_t split = 1 + data[0] * (size - 1) / 256;
    const std::vector<uint8_t> text(data + 1, data + split);
    const std::vector<uint8_t> block(data + split, data + size);
    info.parseBlocks(text.data(), text.size(), block.data(), block.size());
    useWindows(info);
  }
  Zelta::Zelta_Print::setSink(nullptr);
  return 0;
}
