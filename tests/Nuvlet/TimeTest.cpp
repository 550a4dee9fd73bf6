// Time stamps as text.
#include "host/Nuvlet/Time.h"

#include <gtest/gtest.h>

namespace {

using namespace Talvo::Utility;

TEST(TimeTest, TimestampTextIsUtcWithMilliseconds) {
  EXPECT_EQ(timestampToString(1796560200123ull), "2026-12-06T12:30:00.123Z");
  EXPECT_EQ(timestampToString(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(timestampToString(951782400007ull), "2000-02-29T00:00:00.007Z");
}

}  // namespace
