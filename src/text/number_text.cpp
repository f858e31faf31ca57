// Conversions between numbers and text. No locale takes part anywhere: the
// decimal point is "." and the group separator ",".
#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

constexpr int kSignificantDigits = 18;
constexpr int kMaxExponent = 9999;

bool is_blank(unsigned char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n';
}

bool is_decimal_digit(unsigned char byte) {
  return byte >= '0' && byte <= '9';
}

Number integer_number(int64_t value) {
  Number number;
  number.integral = true;
  number.integer = value;
  return number;
}

Number real_number(double value) {
  Number number;
  number.integral = false;
  number.real = value;
  return number;
}

// Decimal form: sign, digits with at most one ".", optional exponent.
Number decimal_value(const Text& text, size_t at) {
  const size_t size = text.size();
  bool negative = false;
  if (at < size && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }

  // Up to 18 significant digits go into the mantissa; the others only move
  // the decimal point.
  uint64_t mantissa = 0;
  int significant = 0;
  int64_t scale = 0;  // power of ten applied to the mantissa
  bool any_digit = false;
  bool seen_point = false;
  while (at < size) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte == '.') {
      if (seen_point) break;
      seen_point = true;
    } else if (is_decimal_digit(byte)) {
      any_digit = true;
      if (significant < kSignificantDigits) {
        if (mantissa != 0 || byte != '0') {
          mantissa = mantissa * 10 + (byte - '0');
          ++significant;
        }
        if (seen_point) --scale;
      } else if (!seen_point) {
        ++scale;
      }
    } else {
      break;
    }
    ++at;
  }
  if (!any_digit) return real_number(negative ? -0.0 : 0.0);

  if (at < size) {
    const unsigned char marker = static_cast<unsigned char>(text[at]);
    if (marker == 'E' || marker == 'e' || marker == 'D' || marker == 'd') {
      ++at;
      bool exponent_negative = false;
      if (at < size && (text[at] == '+' || text[at] == '-')) {
        exponent_negative = text[at] == '-';
        ++at;
      }
      int64_t exponent = 0;
      while (at < size && is_decimal_digit(static_cast<unsigned char>(text[at]))) {
        exponent = exponent * 10 + (text[at] - '0');
        if (exponent > kMaxExponent) exponent = kMaxExponent;
        ++at;
      }
      scale += exponent_negative ? -exponent : exponent;
    }
  }

  double value = 0.0;
  if (mantissa != 0) {
    // The exact decimal mantissa and exponent, converted with correct
    // rounding and without any locale.
    char buffer[64];
    // The mantissa has at most 18 digits; one byte is kept back for the 'e'.
    char* end = std::to_chars(buffer, buffer + sizeof buffer - 1, mantissa).ptr;
    *end++ = 'e';
    end = std::to_chars(end, buffer + sizeof buffer, scale).ptr;
    const std::from_chars_result read =
        std::from_chars(buffer, end, value, std::chars_format::scientific);
    if (read.ec == std::errc::result_out_of_range) {
      value = scale > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
  }
  return real_number(negative ? -value : value);
}

// Nearest integer, a tie going to the even one.
double round_half_even(double value) {
  const double floor_value = std::floor(value);
  const double fraction = value - floor_value;
  if (fraction > 0.5) return floor_value + 1.0;
  if (fraction < 0.5) return floor_value;
  return std::fmod(floor_value, 2.0) == 0.0 ? floor_value : floor_value + 1.0;
}

// Adds one to the decimal digit string at its last digit, carrying leftwards;
// a carry out of the first digit adds a "1" in front.
void increment_digits(Text& digits) {
  for (size_t i = digits.size(); i > 0; --i) {
    if (digits[i - 1] != '9') {
      ++digits[i - 1];
      return;
    }
    digits[i - 1] = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

Number value_of_text(const Text& text) {
  size_t at = 0;
  while (at < text.size() && is_blank(static_cast<unsigned char>(text[at]))) ++at;
  if (at == text.size()) return integer_number(0);
  return decimal_value(text, at);
}

int32_t store_int32(const Number& number) {
  constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();
  if (number.integral) {
    if (number.integer < std::numeric_limits<int32_t>::min() ||
        number.integer > std::numeric_limits<int32_t>::max()) {
      return kOutOfRange;
    }
    return static_cast<int32_t>(number.integer);
  }
  if (std::isnan(number.real)) return kOutOfRange;
  const double rounded = round_half_even(number.real);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return kOutOfRange;
  return static_cast<int32_t>(rounded);
}

Text format_number(double number, const Text& mask) {
  // Reading the mask: "0" positions before and after ".", and "," directly
  // after a digit position turning on grouping of the integer digits.
  int integer_positions = 0;
  int decimal_positions = 0;
  bool grouping = false;
  bool after_point = false;
  for (size_t i = 0; i < mask.size(); ++i) {
    const char c = mask[i];
    if (c == '0') {
      (after_point ? decimal_positions : integer_positions)++;
    } else if (c == '.') {
      after_point = true;
    } else if (c == ',' && !after_point && i > 0 && mask[i - 1] == '0') {
      grouping = true;
    }
  }

  if (std::isnan(number)) return "NaN";
  if (std::isinf(number)) return number < 0 ? "-Infinity" : "Infinity";

  const bool negative = std::signbit(number);
  const double magnitude = std::fabs(number);

  // The magnitude as 18 significant digits (exactly rounded, ties to even)
  // followed by as many zeros as needed: integer digits, then decimals.
  Text integer_digits;
  Text fraction_digits;
  if (magnitude != 0.0) {
    char buffer[64];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific,
                      kSignificantDigits - 1);
    const Text scientific(buffer, written.ptr);
    const size_t exponent_at = scientific.find('e');
    Text digits = scientific.substr(0, 1) + scientific.substr(2, exponent_at - 2);
    const int exponent = std::atoi(scientific.c_str() + exponent_at + 1);
    const int64_t integer_count = static_cast<int64_t>(exponent) + 1;
    if (integer_count <= 0) {
      fraction_digits = Text(static_cast<size_t>(-integer_count), '0') + digits;
    } else if (integer_count >= static_cast<int64_t>(digits.size())) {
      integer_digits = digits + Text(static_cast<size_t>(integer_count) - digits.size(), '0');
    } else {
      integer_digits = digits.substr(0, static_cast<size_t>(integer_count));
      fraction_digits = digits.substr(static_cast<size_t>(integer_count));
    }
  }

  // Rounding to the mask's decimal positions, ties to the even digit. The
  // kept digits always end with exactly the decimal positions.
  const size_t decimals = static_cast<size_t>(decimal_positions);
  Text kept = integer_digits;
  if (fraction_digits.size() <= decimals) {
    kept += fraction_digits + Text(decimals - fraction_digits.size(), '0');
  } else {
    kept += fraction_digits.substr(0, decimals);
    const Text dropped = fraction_digits.substr(decimals);
    bool round_up = dropped[0] > '5';
    if (dropped[0] == '5') {
      const bool beyond_half = dropped.find_first_not_of('0', 1) != Text::npos;
      const bool last_kept_odd = !kept.empty() && (kept.back() - '0') % 2 == 1;
      round_up = beyond_half || last_kept_odd;
    }
    if (round_up) increment_digits(kept);
  }

  Text integer_part = kept.substr(0, kept.size() - decimals);
  const Text decimal_part = kept.substr(kept.size() - decimals);
  const size_t first_nonzero = integer_part.find_first_not_of('0');
  integer_part = first_nonzero == Text::npos ? Text() : integer_part.substr(first_nonzero);
  if (integer_part.size() < static_cast<size_t>(integer_positions)) {
    integer_part.insert(0, static_cast<size_t>(integer_positions) - integer_part.size(), '0');
  }

  const Text grouped = grouping ? grouped_digits(integer_part) : integer_part;

  const bool is_zero = kept.find_first_not_of('0') == Text::npos;
  Text result = negative && !is_zero ? "-" : "";
  result += grouped;
  if (decimal_positions > 0) result += "." + decimal_part;
  return result;
}

Text number_text(double number) {
  if (number == 0.0) return "0";
  char buffer[64];
  const std::to_chars_result written =
      std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::general, 15);
  return Text(buffer, written.ptr);
}

Text grouped_digits(const Text& digits) {
  Text grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  return grouped;
}

Text grouped_number(int64_t number) {
  // Every 64-bit integer exactly, also past 2^53 where a double would round.
  const uint64_t magnitude =
      number < 0 ? uint64_t{0} - static_cast<uint64_t>(number) : static_cast<uint64_t>(number);
  return (number < 0 ? "-" : "") + grouped_digits(std::to_string(magnitude));
}
