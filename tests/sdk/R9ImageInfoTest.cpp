// Picture header blocks (R9IMG text, ZLF times and records) in whole pictures, also malformed ones.
#include "Zelta_R9ImageInfo.h"
#include "Zelta_StreamInfo.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <tuple>

#include "SdkTestDoubles.h"
#include "StreamBuilder.h"

using namespace Zelta;
namespace sb = streambuilder;

namespace {

int parse(Zelta_R9ImageInfo& info, const std::string& picture) {
  return info.parseFrame(reinterpret_cast<const uint8_t*>(picture.data()), picture.size());
}

const char* const kHeader =
    "#:R9IMG\n"
    "SECTION IMAGE\r\n"
    "W=1920  \t\n"
    "H=1080\n"
    "WIN=lt=10,20 rb=300,400 flags=visible\n"
    "a line without equals\n"
    "ENDSECTION IMAGE\n"
    "OUT=of any section\n"
    "SECTION FINGERPRINT\n"
    "IMT=2026-12-06 23:00:00\n"
    "ENDSECTION FINGERPRINT\n";

// The first window of a section V holding `body`, if it is a T.
template <typename T>
std::shared_ptr<T> firstWindow(const std::string& body) {
  Zelta_R9ImageInfo info;
  EXPECT_EQ(parse(info, sb::picture({"#:R9IMG\nSECTION V\n" + body + "ENDSECTION V\n"}, 10)), 1);
  const auto windows = info.windows().find("V");
  return windows == info.windows().end() ? nullptr : std::dynamic_pointer_cast<T>(windows->second.at(0));
}

}  // namespace

TEST(R9ImageInfo, TextHeaderSectionsKeysAndWindows) {
  PrintCapture capture;
  Zelta_R9ImageInfo info;
  ASSERT_EQ(parse(info, sb::picture({kHeader}, 50)), 1);
  const auto& sections = info.sections();
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections.at("IMAGE"), (Zelta_R9ImageInfo::Section{{"W", "1920"}, {"H", "1080"}}));
  EXPECT_EQ(info.fingerprintImageType(), "2026-12-06 23:00:00");
  ASSERT_EQ(info.windows().at("IMAGE").size(), 1u);
  const auto& window = *info.windows().at("IMAGE")[0];
  EXPECT_EQ(std::make_tuple(window.left, window.top, window.right, window.bottom, window.flags),
            std::make_tuple(10, 20, 300, 400, "visible"));
  EXPECT_TRUE(capture.messages().empty());
  ASSERT_EQ(parse(info, sb::picture({"#:R9IMG\nSECTION IMAGE\nW=1\nENDSECTION IMAGE\n"}, 50)), 1);
  EXPECT_EQ(info.fingerprintImageType(), "") << "not kept from the picture before";
}

// A PTZ window maps picture points to the sensor, a deskewed one its fractions back to the picture;
// huge numbers are clamped, windows without area and points outside map nothing.
TEST(R9ImageInfo, PtzAndDeskewWindowsWithOddNumbers) {
  using Point = std::optional<Zelta_WindowPoint>;
  const auto ptz = &firstWindow<Zelta_PTZWindow>;
  const auto view = ptz("XTO=100\nYTO=50\nZOM=200\nPAX=10\nPAY=-5\nWIN=lt=0,0 rb=640,480 flags=view\n");
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->sensorPoint(320, 240), (Point{{270, 165}}));
  EXPECT_EQ(view->sensorPoint(641, 0), Point{});
  EXPECT_EQ(view->sensorPoint(std::nan(""), 0), Point{});
  EXPECT_EQ(ptz("WIN=lt=0,0 rb=640,480\nZOM=0\n")->sensorPoint(320, 240), (Point{{320, 240}})) << "no zoom: 100 %";
  EXPECT_EQ(ptz("W=1\nWIN=lt=0,0 rb=640,480\n"), nullptr) << "no PTZ keys: a plain window";

  const auto huge = ptz("XTO=99999999999999\nZOM=-7\nWIN=lt=-99999999999,0 rb=99999999999,10\n");
  ASSERT_NE(huge, nullptr);
  EXPECT_EQ((std::array<int, 3>{huge->left, huge->right, huge->offsetX}),
            (std::array<int, 3>{-(1 << 20), 1 << 20, 1 << 20}));
  EXPECT_EQ(huge->windowPoint(0, 5), (Point{{0.5, 0.5}}));

  const auto deskew = [](const std::string& win) {
    return firstWindow<Zelta_DeskewWindow>("WIN=" + win + " flags=deskew\n");
  };
  ASSERT_NE(deskew("lt=100,100 rb=300,300"), nullptr);
  EXPECT_EQ(deskew("lt=100,100 rb=300,300")->picturePoint(0.5, 0.25), (Point{{200, 150}}));
  EXPECT_EQ(deskew("lt=100,100 rb=300,300")->picturePoint(1.5, 0), Point{});
  EXPECT_EQ(deskew("lt=100,100 rb=100,300")->picturePoint(0.5, 0.5), Point{}) << "no width";
  EXPECT_EQ(deskew("lt=300,300 rb=100,100")->windowPoint(200, 200), Point{}) << "corners swapped";
}

TEST(R9ImageInfo, PackedRecordsAndShortOnes) {
  // Type 14: bits 20-22 = 5, bits 71-81 = -3 (11-bit two's complement).
  std::string full14 = sb::zlfRecord(14, 12);
  full14[2] = static_cast<char>(5 << 4);
  sb::putLE(full14, 8, 0x7FDull << 7, 3);
  // Type 8: bytes 4-7 = 0xA1B2C3D4, byte 28 bits 1-4 = 9.
  std::string full8 = sb::zlfRecord(8, 29);
  sb::putLE(full8, 4, 0xA1B2C3D4, 4);
  full8[28] = static_cast<char>(9 << 1);
  const std::string short8 = sb::zlfRecord(8, 8);    // holds only the fields of bytes 2 and 4-7
  const std::string short14 = sb::zlfRecord(14, 5);  // holds only the field of bits 20-22

  PrintCapture capture;
  Zelta_R9ImageInfo info;
  parse(info, sb::picture({sb::zlf(1, {full14, full8, short8, short14})}, 10));
  ASSERT_EQ(info.records14().size(), 2u);
  ASSERT_EQ(info.records8().size(), 2u);
  const auto& r14 = *info.records14()[0];
  const auto& r8 = *info.records8()[0];
  EXPECT_EQ(std::make_tuple(r14.present, r14.fields[0], r14.fields[4]), std::make_tuple(0x3Fu, 5, -3));
  EXPECT_EQ(std::make_tuple(r8.present, r8.fields[1], r8.fields[2]), std::make_tuple(0x1Fu, 9, 0xA1B2C3D4));
  EXPECT_EQ(std::make_pair(info.records8()[1]->present, info.records14()[1]->present), std::make_pair(0x5u, 0x1u))
      << "a short record yields only the fields it holds";
  EXPECT_TRUE(capture.messages().empty());
}

// ZLF times (a type 13 record holds the second time) and versions; broken, missing and unknown
// blocks: the result, the messages, and what is kept (the section holding K=V, the times).
TEST(R9ImageInfo, ZlfTimesVersionsAndMalformedBlocks) {
  std::string type13 = sb::zlfRecord(13, 12);
  sb::putLE(type13, 4, 1700000001000002, 8);
  std::string type1 = sb::zlfRecord(1, 16);
  sb::putLE(type1, 8, 0x1122334455667788, 8);
  std::string zeroLength = sb::zlf(1, {sb::zlfRecord(1, 16)});
  zeroLength[24 + 1] = static_cast<char>(0x80);  // length 0, another follows
  const std::string pastTheEnd = sb::zlf(1, {sb::zlfRecord(8, 29)}).substr(0, 24 + 19);
  std::string dangling = sb::zlf(1, {sb::zlfRecord(1, 16)});
  dangling[24 + 1] = static_cast<char>(16 | 0x80);                   // claims another record after the last
  const std::string cut = sb::picture({kHeader}, 10).substr(0, 30);  // the COM block claims more than it holds
  const auto picture = [](const std::string& block) { return sb::picture({block}, 10); };
  const std::string endWithoutStart = picture("#:R9IMG\nENDSECTION X\nSECTION A\nK=V\nENDSECTION A\n");
  const std::string nested = picture("#:R9IMG\nSECTION A\nK=1\nSECTION B\nK=V\nENDSECTION B\n");
  const std::string legacy = picture(std::string(Zelta_R9ImageInfo::kLegacyCommentPrefix) + "x");
  const Zelta_ImageTime stamp{1700000000, 123456}, one{0, 1}, none{0, 0};
  const struct {
    std::string picture;
    int result;
    const char* kept;
    Zelta_ImageTime frame, second;
    std::vector<std::string> messages;
  } cases[] = {
      {picture(sb::zlf(1700000000123456, {}, 2, 1)), 0, "", stamp, stamp, {}},
      {picture(sb::zlf(1700000000123456, {type1, type13})), 0, "", stamp, {1700000001, 2}, {}},
      {picture(sb::zlf(5, {}, 3, 0)), 0, "", none, none, {" Unsupported ZLF version 3.0"}},
      {picture(std::string("ZLF\0\x02\0\0\0\1", 9)), 0, "", none, none, {" data missing in ZLF info block"}},
      {endWithoutStart, 1, "A", none, none, {" invalid R9IMG header, found section end without start"}},
      {nested, 1, "B", none, none, {" invalid R9IMG header, found section start while processing another section"}},
      {picture(zeroLength), 0, "", one, one, {" invalid ZLF record length 0"}},
      {picture(pastTheEnd), 0, "", one, one, {" data missing in ZLF info block"}},
      {picture(dangling), 0, "", one, one, {" data missing in ZLF info block"}},
      {sb::picture({}, 10), 2, "", none, none, {" no R9IMG and no ZLF headers found!"}},
      {legacy, 2, "", none, none, {" ZLComment v1.7 not supported!", " no R9IMG and no ZLF headers found!"}},
      {cut, 2, "", none, none, {" no R9IMG and no ZLF headers found!"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    PrintCapture capture;
    Zelta_R9ImageInfo info;
    EXPECT_EQ(parse(info, c.picture), c.result);
    EXPECT_EQ(capture.messages(), c.messages);
    if (*c.kept) EXPECT_EQ(info.sections().at(c.kept).at("K"), "V");
    EXPECT_EQ(std::make_pair(info.frameTime(), info.secondTime()), std::make_pair(c.frame, c.second));
  }
  Zelta_R9ImageInfo info;
  parse(info, sb::picture({sb::zlf(1, {type1})}, 10));
  EXPECT_EQ(info.recordValue(), 0x1122334455667788u);
}

// The frame rate follows the pictures' times; times beyond 64-bit microseconds (or far apart) are
// left out instead of overflowing, and counters stop at the int range.
TEST(StreamInfo, FrameRatesAndCountersStayInRange) {
  Zelta_StreamInfo info;
  for (int64_t frame = 0; frame < 5; ++frame) info.addFrameTime(1765000000, frame * 40000);
  EXPECT_EQ(info.getValue(Zelta_StreamInfo::kFrameRate), 25);
  info.addFrameTime(18376386479671, 0);
  info.addFrameTime(INT64_MIN / 1000000, -999999);
  EXPECT_EQ(info.getValue(Zelta_StreamInfo::kFrameRate), 25);
  info.addFrameTime(INT64_MAX / 1000000, 0);  // fits, far ahead: a rate near 0, no overflow
  EXPECT_GE(info.getValue(Zelta_StreamInfo::kFrameRate), 0);
  for (int i = 0; i < 300; ++i) info.addValue(Zelta_StreamInfo::kBytesDropped, 8388607);  // 2.5 GB dropped
  EXPECT_EQ(info.getValue(Zelta_StreamInfo::kBytesDropped), 2147483647);
  info.addValue(Zelta_StreamInfo::kBytesDropped, -5);
  EXPECT_EQ(info.getValue(Zelta_StreamInfo::kBytesDropped), 2147483642);
}
