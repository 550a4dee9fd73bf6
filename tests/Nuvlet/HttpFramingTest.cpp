// How answers are framed, as the request steps parse them: the status line, header lines and
// chunked bodies (any split of the bytes, malformed lines and the body cap).
#include "Nuvlet/include/HttpAnswerHead.h"
#include "Nuvlet/include/ChunkedBodyDecoder.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Talvo::http::HttpHeaders;
using Talvo::http::HttpResponse;

TEST(HttpAnswerHead, StatusLineWithoutTextPassesMalformedOrIncompleteFail) {
  for (const std::string line : {"HTTP/1.1 200 OK", "HTTP/1.1 200 OK\n", "HTTP/11 200 OK\r\n", "HTTP/1.1 20 OK\r\n",
                                 "HTTP/1.1 2000 OK\r\n", "HTTP/1.1 abc OK\r\n", "HTTX/1.1 200 OK\r\n",
                                 "HTTP/1.1  200 OK\r\n", "HTTP/1.1 200 O\x01K\r\n", "<html>\r\n", ""}) {
    HttpResponse response;
    EXPECT_EQ(0u, Talvo::http::parseStatusLine(line.data(), line.data() + line.size(), response)) << line;
    EXPECT_EQ(0, response.status) << line;
  }
  const std::string bare = "HTTP/1.0 200\r\n";
  HttpResponse noText;
  EXPECT_EQ(bare.size(), Talvo::http::parseStatusLine(bare.data(), bare.data() + bare.size(), noText));
  EXPECT_EQ(200, noText.status);
  EXPECT_EQ("", noText.statusText);
}

TEST(HttpAnswerHead, HeadersAreTrimmedAndLookedUpWithoutCase) {
  const std::string block = "Content-Type:  text/plain \r\nX-A: 1\r\nx-a: 2\r\nEmpty:\r\n\r\nbody";
  HttpHeaders headers;
  EXPECT_EQ(block.size() - 4, Talvo::http::parseHeaders(block.data(), block.data() + block.size(), headers));
  HttpResponse response;
  response.headers = headers;
  EXPECT_EQ("text/plain", response.header("content-type"));
  EXPECT_EQ(2u, headers.count("X-A"));
  bool found = false;
  EXPECT_EQ("", response.header("Empty", &found));
  EXPECT_TRUE(found);
  EXPECT_EQ("", response.header("Missing", &found));
  EXPECT_FALSE(found);
}

TEST(HttpAnswerHead, HeadersRejectFoldingBadNamesIncompleteBlocksAndTooManyLines) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "H" + std::to_string(i) + ": v\r\n";
  const std::string atCap = hundred + "\r\n";
  HttpHeaders many;
  EXPECT_EQ(atCap.size(), Talvo::http::parseHeaders(atCap.data(), atCap.data() + atCap.size(), many));
  for (const std::string& block : std::vector<std::string>{
           "A: 1\r\n continued\r\n\r\n", "Bad Name: 1\r\n\r\n", "A : 1\r\n\r\n", ": 1\r\n\r\n", "NoColon\r\n\r\n",
           "A: 1\r\n", "A: 1\nB: 2\r\n\r\n", "A: x\x7fy\r\n\r\n", hundred + "H100: v\r\n\r\n"}) {
    HttpHeaders headers;
    EXPECT_EQ(0u, Talvo::http::parseHeaders(block.data(), block.data() + block.size(), headers)) << block;
    EXPECT_TRUE(headers.empty()) << block;
  }
}

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
