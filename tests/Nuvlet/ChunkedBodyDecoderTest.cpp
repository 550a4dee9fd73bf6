// Chunked answer bodies: any split of the bytes, malformed lines and the body cap.
#include "Nuvlet/include/ChunkedBodyDecoder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Decoder = Talvo::http::detail::ChunkedBodyDecoder;

TEST(ChunkedBodyDecoder, DecodesAcrossAnySplit) {
  const std::string wire =
      "4\r\nWiki\r\n5;name=value\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nTrailer: x\r\n\r\nNEXT";
  for (size_t split = 1; split < wire.size(); ++split) {
    Decoder decoder;
    Talvo::http::Body body;
    size_t used = 0;
    Decoder::Result result = decoder.feed(wire.data(), split, used, body, 1000);
    size_t taken = used;
    if (result == Decoder::Result::NeedMore) {
      ASSERT_EQ(split, used);
      result = decoder.feed(wire.data() + split, wire.size() - split, used, body, 1000);
      taken += used;
    }
    ASSERT_EQ(Decoder::Result::Done, result) << split;
    EXPECT_EQ(wire.size() - 4, taken) << "what follows the body stays unread";
    EXPECT_EQ("Wikipedia in\r\n\r\nchunks.", std::string(body.begin(), body.end()));
  }
}

TEST(ChunkedBodyDecoder, RejectsMalformedAndOversizedChunks) {
  auto decode = [](const std::string& wire, size_t cap) {
    Decoder decoder;
    Talvo::http::Body body;
    size_t used = 0;
    return decoder.feed(wire.data(), wire.size(), used, body, cap);
  };
  EXPECT_EQ(Decoder::Result::Malformed, decode("zz\r\n", 100));
  EXPECT_EQ(Decoder::Result::Malformed, decode("\r\n", 100));
  EXPECT_EQ(Decoder::Result::Malformed, decode("4 x\r\n", 100));
  EXPECT_EQ(Decoder::Result::Malformed, decode("4\nWiki\r\n", 100));
  EXPECT_EQ(Decoder::Result::Malformed, decode("4\r\nWikiXX0\r\n\r\n", 100));
  EXPECT_EQ(Decoder::Result::Malformed, decode(std::string(5000, '1'), 1u << 30));
  EXPECT_EQ(Decoder::Result::TooLarge, decode("65\r\n", 100));
  EXPECT_EQ(Decoder::Result::TooLarge, decode("ffffffffffffffffffffffff\r\n", 100));
  EXPECT_EQ(Decoder::Result::TooLarge, decode("32\r\n" + std::string(50, 'a') + "\r\n33\r\n", 100));
}

}  // namespace
