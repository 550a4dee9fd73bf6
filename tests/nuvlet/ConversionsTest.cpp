// Time texts, locale-independent numbers and the mapping of errors to the host's codes.
#include "host/Nuvlet/Conversions.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <locale>

namespace {

using namespace Talvo::Utility;

TEST(TimeTest, TimestampTextIsUtcWithMilliseconds) {
  EXPECT_EQ(timestampToString(1796560200123ull), "2026-12-06T12:30:00.123Z");
  EXPECT_EQ(timestampToString(0), "1970-01-01T00:00:00.000Z");
  EXPECT_EQ(timestampToString(951782400007ull), "2000-02-29T00:00:00.007Z");
}

// A global locale that writes decimals with a comma, as some hosts set.
struct CommaDecimals : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

TEST(StringToDoubleTest, ReadsWholeTextWhateverTheLocale) {
  const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
  EXPECT_DOUBLE_EQ(stringToDouble("2.5"), 2.5);
  std::locale::global(previous);
  EXPECT_DOUBLE_EQ(stringToDouble(" -1e3 "), -1000.0);
  EXPECT_DOUBLE_EQ(stringToDouble("\t42\n"), 42.0);
  for (const char* bad : {"", "   ", "abc", "2.5x", "1,5", "1e999", "2 3"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(stringToDouble(bad), std::invalid_argument);
  }
}

// Stands for the HTTP code's category, which lives in another unit: only its name matters.
class FakeHttpCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "http"; }
  std::string message(int value) const override { return "status " + std::to_string(value); }
};

class OtherCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "other"; }
  std::string message(int) const override { return "other"; }
};

TEST(TranslateSystemErrorTest, MapsEachCategory) {
  static const FakeHttpCategory http;
  static const OtherCategory other;
  namespace ae = boost::asio::error;
  EXPECT_EQ(translateSystemError({}), 0);
  EXPECT_EQ(translateSystemError(boost::system::error_code(404, http)), 404);
  EXPECT_EQ(translateSystemError(Talvo::error::make_error_code(Talvo::error::response_too_large)), 264);
  EXPECT_EQ(translateSystemError(make_error_code(boost::system::errc::connection_refused)), 111);
  EXPECT_EQ(translateSystemError(ae::connection_refused), 111);
  EXPECT_EQ(translateSystemError(ae::operation_aborted), 125);
  EXPECT_EQ(translateSystemError(ae::timed_out), 110);
  EXPECT_EQ(translateSystemError(ae::eof), 104);
  EXPECT_EQ(translateSystemError(ae::host_not_found), 113);
  EXPECT_EQ(translateSystemError(boost::system::error_code(7, other)), 1);
  EXPECT_NE(translateSystemError(ae::already_open), 0);
}

TEST(TalvoCategoryTest, MessagesOfItsErrors) {
  EXPECT_STREQ(boost::system::error_code(Talvo::error::bad_response).category().name(), "talvo");
  EXPECT_EQ(boost::system::error_code(Talvo::error::bad_response).message(), "unparseable response");
  EXPECT_EQ(boost::system::error_code(Talvo::error::response_too_large).message(), "response larger than the limit");
}

}  // namespace
