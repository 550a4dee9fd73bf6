// The library's error category and the mapping of every category to the host's codes.
#include "host/Nuvlet/ErrorCodes.h"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>

#include "host/Nuvlet/HttpCategory.h"

namespace {

using namespace Talvo::Utility;

class OtherCategory : public boost::system::error_category {
 public:
  const char* name() const noexcept override { return "other"; }
  std::string message(int) const override { return "other"; }
};

TEST(TranslateSystemErrorTest, MapsEachCategory) {
  static const OtherCategory other;
  namespace ae = boost::asio::error;
  EXPECT_EQ(translateSystemError({}), 0);
  EXPECT_EQ(translateSystemError(boost::system::error_code(404, Talvo::http::http_category())), 404);
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
