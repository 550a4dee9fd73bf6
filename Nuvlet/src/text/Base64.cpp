// Base64 through OpenSSL's block coder, which both libNuvlet and the simulator link anyway.
#include "host/Nuvlet/Base64.h"

#include <openssl/evp.h>

#include <limits>

namespace Talvo {
namespace Utility {
namespace {

bool isAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::string base64Encode(std::string_view bytes) {
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 4 * 3 - 3)) return std::string();
  std::string encoded((bytes.size() + 2) / 3 * 4 + 1, '\0');  // the block coder ends with a NUL
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&encoded[0]),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  encoded.resize(static_cast<size_t>(length));
  return encoded;
}

std::optional<std::string> base64Decode(std::string_view text) {
  // The block coder skips blanks around the text and counts padding as zero bytes: only the
  // alphabet is let through, and the padding is taken off its result.
  if (text.size() % 4 != 0 || text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  for (size_t i = 0; i < text.size() - padding; ++i)
    if (!isAlphabet(text[i])) return std::nullopt;
  std::string decoded(text.size() / 4 * 3, '\0');
  if (text.empty()) return decoded;
  const int length =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&decoded[0]),
                      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  decoded.resize(static_cast<size_t>(length) - padding);
  return decoded;
}

}  // namespace Utility
}  // namespace Talvo
