#include "Nuvlet/include/RtspAnswer.h"

#include <string>

#include <gtest/gtest.h>

#include "Nuvlet/include/RtspAuthorization.h"

namespace {

using Talvo::rtsp::AnswerParse;
using Talvo::rtsp::RtspAnswer;

struct AnswerCase {
  const char* name;
  std::string bytes;
  AnswerParse expected;
  int status;
  std::string body;
};

class RtspAnswerParse : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(RtspAnswerParse, ReadsTheAnswerAtTheFront) {
  const AnswerCase& c = GetParam();
  RtspAnswer answer;
  size_t consumed = 0;
  const AnswerParse result =
      Talvo::rtsp::parseAnswer(c.bytes.data(), c.bytes.data() + c.bytes.size(), answer, consumed);
  ASSERT_EQ(result, c.expected);
  if (result != AnswerParse::Done) return;
  EXPECT_EQ(answer.status, c.status);
  EXPECT_EQ(answer.body, c.body);
  EXPECT_EQ(c.bytes.substr(consumed), "$rest") << "the answer ends where its body ends";
}

const std::string kBigHead = "RTSP/1.0 200 OK\r\nX: " + std::string(Talvo::rtsp::kMaxAnswerHead, 'a') + "\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RtspAnswerParse,
    ::testing::Values(
        AnswerCase{"no_body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n$rest", AnswerParse::Done, 200, ""},
        AnswerCase{"body", "RTSP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nv=0$rest", AnswerParse::Done, 200, "v=0"},
        AnswerCase{"no_reason", "RTSP/1.0 401\r\n\r\n$rest", AnswerParse::Done, 401, ""},
        AnswerCase{"head_incomplete", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"body_incomplete", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nv=0", AnswerParse::NeedMore, 0, ""},
        AnswerCase{"http_answer", "HTTP/1.1 200 OK\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"bad_length", "RTSP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", AnswerParse::Bad, 0, ""},
        AnswerCase{"body_over_cap", "RTSP/1.0 200 OK\r\nContent-Length: 65537\r\n\r\n", AnswerParse::TooLarge, 0, ""},
        AnswerCase{"head_over_cap", kBigHead, AnswerParse::TooLarge, 0, ""},
        AnswerCase{"garbage", "\x01\x02\x03\r\n\r\n", AnswerParse::Bad, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtspSessionHeader, IdAndTimeOut) {
  struct Case {
    std::string value;
    bool ok;
    std::string id;
    int timeout;
  };
  for (const Case& c :
       {Case{"12345678;timeout=20", true, "12345678", 20}, Case{"abc", true, "abc", 60},
        Case{"abc ; timeout=x", true, "abc", 60}, Case{"", false, "", 60}, Case{"s1;Timeout=0", true, "s1", 1}}) {
    Talvo::rtsp::SessionHeader session;
    EXPECT_EQ(Talvo::rtsp::parseSessionHeader(c.value, session), c.ok) << c.value;
    if (!c.ok) continue;
    EXPECT_EQ(session.id, c.id) << c.value;
    EXPECT_EQ(session.timeoutSeconds, c.timeout) << c.value;
  }
}

TEST(RtspChallenges, EveryHeaderLineWithQuotedAndPlainParameters) {
  RtspAnswer answer;
  answer.headers.emplace("WWW-Authenticate", "Basic realm=\"cam\"");
  answer.headers.emplace("WWW-Authenticate",
                         "Digest realm=\"cam, one\", nonce=\"ab\\\"c\", qop=\"auth,auth-int\", algorithm=MD5");
  const auto challenges = Talvo::rtsp::challengesOf(answer);
  ASSERT_EQ(challenges.size(), 2u);
  EXPECT_EQ(challenges[0].scheme, "basic");
  EXPECT_EQ(challenges[0].params.at("realm"), "cam");
  EXPECT_EQ(challenges[1].scheme, "digest");
  EXPECT_EQ(challenges[1].params.at("realm"), "cam, one");
  EXPECT_EQ(challenges[1].params.at("nonce"), "ab\"c");
  EXPECT_EQ(challenges[1].params.at("algorithm"), "MD5");
}

// The worked example of RFC 2617, section 3.5.
TEST(RtspAuthorization, DigestAnswersAsTheRfcExample) {
  Talvo::rtsp::RtspAuthorization auth("Mufasa", "Circle Of Life");
  auth.setClientNonce("0a4f113b");
  Talvo::rtsp::Challenge digest{"digest",
                                {{"realm", "testrealm@host.com"},
                                 {"qop", "auth,auth-int"},
                                 {"nonce", "dcd98b7102dd2f0e8b11d0f600bfb0c093"},
                                 {"opaque", "5ccc069c403ebaf9f0171e9517f40e41"}}};
  ASSERT_TRUE(auth.accept({Talvo::rtsp::Challenge{"basic", {{"realm", "x"}}}, digest}));
  const std::string header = auth.header("GET", "/dir/index.html");
  EXPECT_NE(header.find("response=\"6629fae49393a05397450978507c4ef1\""), std::string::npos) << header;
  EXPECT_NE(header.find("nc=00000001"), std::string::npos) << header;
  EXPECT_NE(header.find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos) << header;
  EXPECT_NE(auth.header("GET", "/dir/index.html").find("nc=00000002"), std::string::npos);
}

TEST(RtspAuthorization, BasicWhenOnlyBasicAndNothingForUnknownSchemes) {
  Talvo::rtsp::RtspAuthorization auth("admin", "s3cr@t");
  EXPECT_FALSE(auth.accept({Talvo::rtsp::Challenge{"negotiate", {}},
                            Talvo::rtsp::Challenge{"digest", {{"nonce", "n"}, {"algorithm", "SHA-256"}}}}));
  EXPECT_EQ(auth.header("DESCRIBE", "rtsp://h/x"), "");
  ASSERT_TRUE(auth.accept({Talvo::rtsp::Challenge{"basic", {{"realm", "x"}}}}));
  EXPECT_EQ(auth.header("DESCRIBE", "rtsp://h/x"), "Basic YWRtaW46czNjckB0");
}

}  // namespace
