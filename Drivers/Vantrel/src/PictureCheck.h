// What a picture cut from the camera's stream is: whether the host may get it, and for the Zelta
// codec whether it is a key picture (it carries its own tables) or a delta picture. Pure
// functions over the picture's bytes; safe on any input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Vantrel {

// Kind of a Zelta picture, from the first table or scan marker after its start of image.
enum class ZeltaFrameKind {
  NotAFrame,      // no start of image, or a marker walk that breaks off
  WithTables,     // a quantisation or Huffman table comes first: a key picture
  WithoutTables,  // the scan starts first: a delta picture that needs the last key picture's tables
};

ZeltaFrameKind zeltaFrameKind(const uint8_t* data, size_t size);

// What becomes of one picture of the stream.
enum class PictureVerdict {
  Malformed,  // not a JPEG picture with APP0 that ends with an end of image
  Invalid,    // a Zelta picture whose marker walk breaks off
  Key,
  Delta,
};

// `codec` is "Zelta" or "MJPEG"; every accepted MJPEG picture is a key picture.
PictureVerdict checkPicture(const uint8_t* data, size_t size, const std::string& codec);

}  // namespace Vantrel
