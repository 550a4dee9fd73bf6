// Reading JSON that a camera sent. The answer's nesting is capped while it is read, so that no
// answer builds a tree deeper than the code that walks it can bear; nothing read here is ever
// written back as text (the library's writer recurses once per level). Pure functions.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace Vantrel {

// Thrown for an answer nested deeper than the cap; its text names the cap.
struct CameraJsonTooDeep : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr size_t kCameraJsonMaxDepth = 32;

// Parses `text` as one JSON document. nlohmann::json::parse_error for bad syntax,
// CameraJsonTooDeep when arrays and objects nest deeper than `maxDepth` levels.
nlohmann::json parseCameraJson(const std::string& text, size_t maxDepth = kCameraJsonMaxDepth);

}  // namespace Vantrel
