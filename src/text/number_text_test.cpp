#include "text/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();

struct StoreCase {
  Text text;
  int32_t stored;
};

// Type bytes and plain numbers.
TEST(ValueOfText, StoredValueTable) {
  const std::vector<StoreCase> cases = {
      {"5", 5}, {"0", 0},     {"\0"s, 0}, {"L", 0}, {"x", 0},
      {" ", 0}, {"  12", 12}, {"-7", -7}, {"", 0},
  };
  for (const StoreCase& c : cases) {
    EXPECT_EQ(store_int32(value_of_text(c.text)), c.stored) << "text [" << c.text << "]";
  }
}

TEST(ValueOfText, EveryOneByteText) {
  for (int code = 0; code < 256; ++code) {
    const Text text(1, static_cast<char>(code));
    const int32_t expected = code >= '0' && code <= '9' ? code - '0' : 0;
    EXPECT_EQ(store_int32(value_of_text(text)), expected) << "code " << code;
  }
}

struct RealCase {
  Text text;
  double value;
};

TEST(ValueOfText, DecimalFormTable) {
  const std::vector<RealCase> cases = {
      {"12", 12.0},
      {"+12", 12.0},
      {"-12", -12.0},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"1.2.3", 1.2},
      {"0.05", 0.05},
      {"007", 7.0},
      {"1e3", 1000.0},
      {"1E+3", 1000.0},
      {"1d2", 100.0},
      {"1D-2", 0.01},
      {"2.5e", 2.5},
      {"12abc", 12.0},
      {"1 2", 1.0},
      {"-", 0.0},
      {"+", 0.0},
      {".", 0.0},
      {"e5", 0.0},
      {"-.e5", 0.0},
      {"\t\n 3", 3.0},
      {"\0"
       "3"s,
       0.0},
      {"\0&O17"s, 0.0},  // NUL is not a blank: the decimal form reads nothing
      {"0e99999", 0.0},
      // Only 18 significant digits take part; later ones move the point.
      {"1234567890123456789", 1234567890123456780.0},
      {"1234567890123456789.9", 1234567890123456780.0},
      {"0.0000000000000000001234567890123456789", 1.23456789012345678e-19},
      {"1" + Text(30, '0'), 1e30},
      {"1e400", std::numeric_limits<double>::infinity()},
      {"1e-400", 0.0},
  };
  for (const RealCase& c : cases) {
    const Number number = value_of_text(c.text);
    EXPECT_FALSE(number.integral) << "text [" << c.text << "]";
    EXPECT_EQ(number.real, c.value) << "text [" << c.text << "]";
  }
}

TEST(ValueOfText, ExponentIsCappedAt9999) {
  EXPECT_EQ(value_of_text("1e99999999999999999999").real, std::numeric_limits<double>::infinity());
  EXPECT_EQ(value_of_text("1e-99999999999999999999").real, 0.0);
  EXPECT_EQ(store_int32(value_of_text("1e99999999999999999999")), kOutOfRange);
  // A mantissa far below 1 brought back by a large exponent.
  EXPECT_EQ(value_of_text("0." + Text(300, '0') + "5e301").real, 5.0);
}

TEST(StoreInt32, RoundsHalfToEvenAndClampsToTheMarker) {
  const std::vector<std::pair<Text, int32_t>> cases = {
      {"0.5", 0},
      {"1.5", 2},
      {"2.5", 2},
      {"3.5", 4},
      {"2.4999", 2},
      {"2.5001", 3},
      {"-0.5", 0},
      {"-1.5", -2},
      {"-2.5", -2},
      {"-2.6", -3},
      {"2147483647", 2147483647},
      {"2147483647.4", 2147483647},
      {"2147483647.5", kOutOfRange},
      {"2147483648", kOutOfRange},
      {"-2147483648", -2147483648},
      {"-2147483648.5", -2147483648},
      {"-2147483648.6", kOutOfRange},
      {"-2147483649", kOutOfRange},
      {"1e10", kOutOfRange},
  };
  for (const auto& [text, stored] : cases) {
    EXPECT_EQ(store_int32(value_of_text(text)), stored) << "text [" << text << "]";
  }

  Number integer;
  integer.integer = int64_t{1} << 31;
  EXPECT_EQ(store_int32(integer), kOutOfRange);
  integer.integer = -(int64_t{1} << 31) - 1;
  EXPECT_EQ(store_int32(integer), kOutOfRange);
  integer.integer = -(int64_t{1} << 31);
  EXPECT_EQ(store_int32(integer), -2147483648);

  Number nan;
  nan.integral = false;
  nan.real = std::nan("");
  EXPECT_EQ(store_int32(nan), kOutOfRange);
}

struct FormatCase {
  double number;
  Text text;
};

TEST(FormatNumber, GroupedMaskTable) {
  const std::vector<FormatCase> cases = {
      {0, "0"},
      {7, "7"},
      {512, "512"},
      {999, "999"},
      {1000, "1,000"},
      {65536, "65,536"},
      {1234567, "1,234,567"},
      {2147483647, "2,147,483,647"},
      {-5, "-5"},
      {-25536, "-25,536"},
      {-123456, "-123,456"},
      {-2147483648.0, "-2,147,483,648"},
      // Sizes kept in 64 bits.
      {9663676416.0, "9,663,676,416"},
      {8589934591.0, "8,589,934,591"},
      {999999999999999999.0, "1,000,000,000,000,000,000"},
      {100000, "100,000"},
      {-999, "-999"},
      {-1000, "-1,000"},
      // Rounding to no decimals, ties to even.
      {0.5, "0"},
      {1.5, "2"},
      {2.5, "2"},
      {-0.4, "0"},
      {-0.5, "0"},
      {-0.0, "0"},
      {999.5, "1,000"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(format_number(c.number, "0,"), c.text) << "number " << c.number;
  }
}

TEST(FormatNumber, TwoDecimalsMaskTable) {
  const std::vector<FormatCase> cases = {
      {101.0 / 100.0, "1.01"},
      {2, "2.00"},
      {0.5, "0.50"},
      {1234.5, "1234.50"},
      {0, "0.00"},
      {9.999, "10.00"},
      {-9.999, "-10.00"},
      {0.001, "0.00"},
      {-0.001, "0.00"},
      {0.005, "0.01"},  // 0.005000000000000000104... is above the tie
      {0.125, "0.12"},  // an exact tie goes to the even digit
      {0.375, "0.38"},
      {-0.125, "-0.12"},
      {1.005, "1.00"},  // 1.00499999999999989... is below the tie
      {1e-300, "0.00"},
      {123456789.0, "123456789.00"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(format_number(c.number, "0.00"), c.text) << "number " << c.number;
  }
}

TEST(FormatNumber, EighteenSignificantDigitsOnly) {
  // 2^60 = 1,152,921,504,606,846,976 has 19 digits: the last counts as 0
  // after rounding to 18 digits (...697|6 rounds up to ...698).
  EXPECT_EQ(format_number(1152921504606846976.0, "0,"), "1,152,921,504,606,846,980");
  // 2^63 = 9,223,372,036,854,775,808 rounds to ...77,58|08 -> ...775,810.
  EXPECT_EQ(format_number(9223372036854775808.0, "0,"), "9,223,372,036,854,775,810");
  EXPECT_EQ(format_number(1e20, "0,"), "100,000,000,000,000,000,000");
}

TEST(NumberText, PlainDigits) {
  const std::vector<FormatCase> cases = {
      {3, "3"},
      {-3, "-3"},
      {0, "0"},
      {1, "1"},
      {4, "4"},
      {6, "6"},
      {9, "9"},
      {-0.0, "0"},
      {123456789012345.0, "123456789012345"},
      {-2147483648.0, "-2147483648"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(number_text(c.number), c.text) << "number " << c.number;
  }
}

}  // namespace
