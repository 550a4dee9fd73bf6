// Unit tests of the simulator's pieces that work on bytes and rules rather than sockets.
#include "AudioTone.h"
#include "FaultTable.h"
#include "JpegEncoder.h"
#include "JpegSegments.h"
#include "Query.h"
#include "RequestLog.h"
#include "StreamParts.h"
#include "TestPattern.h"

#include <gtest/gtest.h>

using namespace camsim;

namespace {

std::string smallJpeg(std::uint64_t frame = 0) { return encodeJpeg(renderTestPattern(64, 48, frame), 64, 48, 80); }

TEST(CamsimPieces, StrippingTablesKeepsEverythingElseInOrder) {
    const std::string key = smallJpeg();
    ASSERT_TRUE(hasTablesBeforeScan(key));
    const std::string delta = stripTables(key);
    EXPECT_FALSE(hasTablesBeforeScan(delta));
    EXPECT_EQ(delta.substr(0, 4), key.substr(0, 4)) << "SOI and APP0 stay first";
    const auto keyScan = key.find("\xFF\xDA");
    EXPECT_EQ(delta.substr(delta.find("\xFF\xDA")), key.substr(keyScan)) << "the scan is untouched";
    EXPECT_THROW(stripTables("not a jpeg"), std::invalid_argument);
}

TEST(CamsimPieces, CommentGoesRightAfterApp0) {
    const std::string key = smallJpeg();
    const std::string comment = commentSegment("hello");
    EXPECT_EQ(comment, std::string("\xFF\xFE\x00\x07hello", 9));
    const std::string marked = insertAfterApp0(key, comment);
    EXPECT_EQ(marked.substr(20, comment.size()), comment) << "APP0 of libjpeg is 18 bytes after SOI";
    EXPECT_EQ(marked.size(), key.size() + comment.size());
}

TEST(CamsimPieces, FaultsParseMatchAndRunOut) {
    EXPECT_EQ(parseFault(parseTarget("/sim/fault?count=2")).error, "no action given");
    EXPECT_FALSE(parseFault(parseTarget("/sim/fault?status=1000")).fault);
    FaultTable table;
    table.install(*parseFault(parseTarget("/sim/fault?path=/control&count=2&status=500")).fault);
    table.install(*parseFault(parseTarget("/sim/fault?drop_after_parts=2")).fault);
    EXPECT_FALSE(table.take("/admin/control"));
    EXPECT_FALSE(table.take("/sim/requests"));
    EXPECT_EQ(table.take("/control/control?read")->action, FaultAction::Status);
    EXPECT_EQ(table.take("/control/faststream.jpg")->action, FaultAction::Status);
    // The status fault is spent; the stream fault only matches the stream path.
    EXPECT_FALSE(table.take("/control/control?read"));
    EXPECT_EQ(table.take("/control/faststream.jpg")->action, FaultAction::DropAfterParts);
    table.clear();
    EXPECT_FALSE(table.take("/control/faststream.jpg"));
}

TEST(CamsimPieces, PartMakerFollowsKeyDistanceAndDropFault) {
    const PictureSource pictures(64, 48, 80, true);
    const CameraState state(*findModel("VX-S10"), {});
    Fault drop;
    drop.action = FaultAction::DropAfterParts;
    drop.value = 3;
    StreamPartMaker maker(pictures, state, StreamRequest{StreamKind::Zelta, 25, 2}, drop);
    for (int i = 0; i < 3; ++i) {
        const StreamStep step = maker.next();
        ASSERT_EQ(step.kind, StepKind::Part);
        const std::string body = step.bytes.substr(step.bytes.find("\r\n\r\n") + 4);
        EXPECT_EQ(hasTablesBeforeScan(body), i % 2 == 0) << i;
    }
    EXPECT_EQ(maker.next().kind, StepKind::Drop);
}

TEST(CamsimPieces, UlawAndRequestLogBounds) {
    EXPECT_EQ(linearToUlaw(0), 0xFF);
    EXPECT_EQ(linearToUlaw(-1), 0x7F);
    EXPECT_EQ(linearToUlaw(32767), 0x80);
    EXPECT_EQ(linearToUlaw(-32768), 0x00);
    EXPECT_EQ(audioBlock(std::string(320, 'a'), 1).size(), 336u);

    RequestLog log(2);
    const auto first = log.arrived("GET", "/a");
    log.arrived("GET", "/b\"");
    log.arrived("GET", "/c");
    log.answered(first, 500);  // fell out of the log: ignored
    EXPECT_EQ(log.jsonLines().find("/a"), std::string::npos);
    EXPECT_NE(log.jsonLines().find("\"target\":\"/b\\\"\""), std::string::npos);
}

TEST(CamsimPieces, QueryDecodingKeepsPlus) {
    const Target target = parseTarget("/control/control?set&section=x&brightness=30+50&name=a%20b&flag");
    EXPECT_EQ(target.path, "/control/control");
    EXPECT_EQ(target.valueOr("brightness", ""), "30+50");
    EXPECT_EQ(target.valueOr("name", ""), "a b");
    ASSERT_NE(target.find("flag"), nullptr);
    EXPECT_FALSE(target.find("flag")->hasValue);
    EXPECT_EQ(percentDecode("%zz%4"), "%zz%4");
}

}  // namespace
