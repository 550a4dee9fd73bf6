#include "Nuvlet/include/RtspAnswer.h"

#include <string>

#include <gtest/gtest.h>


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

}  // namespace
