// Numbers read from texts whatever the locale.
#include "host/Nuvlet/NumberText.h"

#include <gtest/gtest.h>

#include <locale>
#include <stdexcept>

namespace {

using namespace Talvo::Utility;

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

}  // namespace
