// Pictures for the console that are not JPEG at the camera: the latest key picture of an H.264
// channel (FFmpeg's libavcodec decodes it) and heat maps, made JPEG by libjpeg-turbo. The H.264
// bytes come from a camera; the decoder is made for untrusted streams, and a picture that does not
// decode gives nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qrmhost {

// `bytes`: one H.264 key picture in Annex B form with its parameter sets (as the module hands
// them over). The JPEG picture at `quality`, or nullopt when it does not decode.
std::optional<std::string> jpegOfH264KeyPicture(const uint8_t* bytes, size_t size, int quality = 80);

// RGB rows (3 bytes a pixel, no padding) as a JPEG picture; nullopt when it cannot be made.
std::optional<std::string> jpegOfRgb(const uint8_t* rgb, uint32_t width, uint32_t height, int quality = 90);

}  // namespace qrmhost
