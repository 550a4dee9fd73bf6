#include "KeyPicture.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

namespace qrmhost {
namespace {

struct CodecContextEnd {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketEnd {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameEnd {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct CompressorEnd {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// The picture of one key picture: sent alone, then the decoder is drained.
std::unique_ptr<AVFrame, FrameEnd> decode(const uint8_t* bytes, size_t size) {
  // A camera's broken picture is no news for stderr: the caller sees that it did not decode.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec || size == 0 || size > 64 * 1024 * 1024) return nullptr;
  std::unique_ptr<AVCodecContext, CodecContextEnd> context(avcodec_alloc_context3(codec));
  std::unique_ptr<AVPacket, PacketEnd> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, FrameEnd> frame(av_frame_alloc());
  if (!context || !packet || !frame) return nullptr;
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(context.get(), codec, nullptr) < 0) return nullptr;
  // The decoder reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the data: a padded copy.
  if (av_new_packet(packet.get(), static_cast<int>(size)) < 0) return nullptr;
  std::copy(bytes, bytes + size, packet->data);
  if (avcodec_send_packet(context.get(), packet.get()) < 0) return nullptr;
  avcodec_send_packet(context.get(), nullptr);
  if (avcodec_receive_frame(context.get(), frame.get()) < 0) return nullptr;
  return frame;
}

// Runs `encode(compressor, &jpeg, &size)` (a TurboJPEG call, 0 for done) and takes its picture.
template <class Encode>
std::optional<std::string> compress(Encode encode) {
  std::unique_ptr<void, CompressorEnd> compressor(tjInitCompress());
  if (!compressor) return std::nullopt;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  std::optional<std::string> picture;
  if (encode(compressor.get(), &jpeg, &size) == 0) picture.emplace(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return picture;
}

}  // namespace

std::optional<std::string> jpegOfH264KeyPicture(const uint8_t* bytes, size_t size, int quality) {
  const auto frame = decode(bytes, size);
  if (!frame || frame->width <= 0 || frame->height <= 0) return std::nullopt;
  int subsampling = -1;
  if (frame->format == AV_PIX_FMT_YUV420P || frame->format == AV_PIX_FMT_YUVJ420P) subsampling = TJSAMP_420;
  if (frame->format == AV_PIX_FMT_YUV422P || frame->format == AV_PIX_FMT_YUVJ422P) subsampling = TJSAMP_422;
  if (frame->format == AV_PIX_FMT_YUV444P || frame->format == AV_PIX_FMT_YUVJ444P) subsampling = TJSAMP_444;
  if (subsampling < 0) return std::nullopt;  // 10-bit and other forms are not shown
  const unsigned char* planes[3] = {frame->data[0], frame->data[1], frame->data[2]};
  const int strides[3] = {frame->linesize[0], frame->linesize[1], frame->linesize[2]};
  return compress([&](void* compressor, unsigned char** jpeg, unsigned long* size) {
    return tjCompressFromYUVPlanes(compressor, planes, frame->width, strides, frame->height, subsampling, jpeg, size,
                                   quality, TJFLAG_FASTDCT);
  });
}

std::optional<std::string> jpegOfRgb(const uint8_t* rgb, uint32_t width, uint32_t height, int quality) {
  if (width == 0 || height == 0 || width > 16384 || height > 16384) return std::nullopt;
  return compress([&](void* compressor, unsigned char** jpeg, unsigned long* size) {
    return tjCompress2(compressor, rgb, static_cast<int>(width), 0, static_cast<int>(height), TJPF_RGB, jpeg, size,
                       TJSAMP_444, quality, TJFLAG_FASTDCT);
  });
}

}  // namespace qrmhost
