#include "JpegEncoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace camsim {

namespace {

// libjpeg's default error handler exits the process; jump back and report instead.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void onJpegError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(manager->jump, 1);
}

// Plain C-style body: no C++ objects with destructors live across setjmp/longjmp.
bool compress(const std::uint8_t* rgb, int width, int height, int quality, unsigned char** out,
              unsigned long* outSize) {
  jpeg_compress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = onJpegError;
  if (setjmp(errors.jump)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, outSize);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  info.optimize_coding = FALSE;  // standard tables: identical in every picture
  info.write_JFIF_header = TRUE;
  jpeg_start_compress(&info, TRUE);
  const std::size_t stride = static_cast<std::size_t>(width) * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb + info.next_scanline * stride);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

}  // namespace

std::string encodeJpeg(const std::vector<std::uint8_t>& rgb, int width, int height, int quality) {
  if (rgb.size() != static_cast<std::size_t>(width) * height * 3) {
    throw std::invalid_argument("encodeJpeg: picture size does not match");
  }
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  const bool ok = compress(rgb.data(), width, height, quality, &out, &outSize);
  std::string jpeg;
  if (ok) jpeg.assign(reinterpret_cast<const char*>(out), outSize);
  std::free(out);
  if (!ok) throw std::runtime_error("encodeJpeg: libjpeg failed");
  return jpeg;
}

}  // namespace camsim
