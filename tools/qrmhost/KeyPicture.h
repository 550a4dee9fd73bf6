// The latest key picture of an H.264 channel as a JPEG picture a browser shows: FFmpeg's
// libavcodec decodes it, libjpeg-turbo encodes it. The bytes come from a camera; the decoder is
// made for untrusted streams, and a picture that does not decode gives nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qrmhost {

// `bytes`: one H.264 key picture in Annex B form with its parameter sets (as the module hands
// them over). The JPEG picture at `quality`, or nullopt when it does not decode.
std::optional<std::string> jpegOfH264KeyPicture(const uint8_t* bytes, size_t size, int quality = 80);

}  // namespace qrmhost
