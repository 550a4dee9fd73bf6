#include "StreamCapture.h"

#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

constexpr std::size_t kMaxPartHead = 1024;
const std::string kBoundaryLine = "--VANTREL_Fast_Serverpush\r\n";

// Parses the head and up to `wanted` whole parts of the bytes received so far; false while more
// bytes are needed. Each part is the boundary line, "Content-Type: image/jpeg", its Content-Length,
// a blank line, the picture and CRLF; anything else ends the parsing with capture.error set.
bool parseParts(const std::string& bytes, std::size_t wanted, StreamCapture& capture) {
  const auto headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) return false;
  capture.head = bytes.substr(0, headEnd + 2);
  capture.pictures.clear();
  const std::string start = kBoundaryLine + "Content-Type: image/jpeg\r\nContent-Length: ";
  for (std::size_t at = headEnd + 4; capture.pictures.size() < wanted;) {
    const auto broken = [&] {
      return capture.error = "part " + std::to_string(capture.pictures.size() + 1) + " is not well formed", true;
    };
    const std::size_t known = std::min(start.size(), bytes.size() - at);
    const auto bodyAt = bytes.find("\r\n\r\n", at);
    if (bytes.compare(at, known, start, 0, known) != 0) return broken();
    if (bodyAt == std::string::npos) return bytes.size() - at > kMaxPartHead && broken();
    const std::string length = bytes.substr(at + start.size(), bodyAt - at - start.size());
    const std::size_t size = std::strtoul(length.c_str(), nullptr, 10);
    if (length.empty() || length != std::to_string(size)) return broken();
    if (bytes.size() < bodyAt + 4 + size + 2) return false;
    if (bytes.compare(bodyAt + 4 + size, 2, "\r\n") != 0) return broken();
    capture.pictures.push_back(bytes.substr(bodyAt + 4, size));
    at = bodyAt + 4 + size + 2;
  }
  return true;
}

}  // namespace

std::string getRequest(const std::string& target) {
  return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + kAdmin + "\r\n";
}

StreamCapture captureStream(std::uint16_t port, const std::string& target, std::size_t parts,
                            std::chrono::milliseconds deadline) {
  StreamCapture capture;
  const int fd = connectAndSend(port, getRequest(target));
  if (fd < 0) return capture.error = "cannot connect", capture;
  std::string bytes;
  const ReadEnd end = readUntil(
      fd, bytes, [&] { return parseParts(bytes, parts, capture); }, deadline);
  capture.closedByServer = end == ReadEnd::Closed;
  if (end == ReadEnd::Deadline)
    capture.error = "deadline passed after " + std::to_string(capture.pictures.size()) + " parts";
  ::close(fd);
  return capture;
}

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void onError(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void quiet(j_common_ptr) {}

// C-style: nothing with a destructor lives across setjmp. False on an error or a warning (libjpeg
// only warns about corrupt data).
bool decode(const std::string& jpeg, unsigned char* row, std::size_t rowSize, unsigned* width, unsigned* height) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = onError;
  errors.base.output_message = quiet;
  bool clean = false;
  if (setjmp(errors.jump) == 0) {
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    *width = info.output_width;
    *height = info.output_height;
    for (JSAMPROW rows[1] = {row}; info.output_width * 3 <= rowSize && info.output_scanline < info.output_height;)
      jpeg_read_scanlines(&info, rows, 1);
    clean =
        info.output_scanline == info.output_height && jpeg_finish_decompress(&info) && errors.base.num_warnings == 0;
  }
  jpeg_destroy_decompress(&info);
  return clean;
}

// Offset of the start of scan (FF DA) in the marker walk, or npos.
std::size_t startOfScan(const std::string& jpeg) {
  for (std::size_t at = 2; at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF;
       at += 2 + bigEndian16(jpeg, at + 2))
    if (static_cast<unsigned char>(jpeg[at + 1]) == 0xDA) return at;
  return std::string::npos;
}

}  // namespace

std::string decodedSize(const std::string& jpeg) {
  std::vector<unsigned char> row(3 * 16384);
  unsigned width = 0, height = 0;
  return decode(jpeg, row.data(), row.size(), &width, &height) ? std::to_string(width) + "x" + std::to_string(height)
                                                               : "";
}

std::size_t bigEndian16(const std::string& bytes, std::size_t at) {
  return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

std::string withTablesOf(const std::string& key, const std::string& delta) {
  const std::size_t keyScan = startOfScan(key);
  const std::size_t deltaScan = startOfScan(delta);
  if (keyScan == std::string::npos || deltaScan == std::string::npos) return "";
  return key.substr(0, keyScan) + delta.substr(deltaScan);
}
