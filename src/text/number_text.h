// Conversions between numbers and text: reading header digits, showing byte
// counts with thousands separators and the version number.
#pragma once

#include <cstdint>

#include "text/text.h"

// What `value_of_text` reads: a decimal number, as a floating-point value
// (an integer result is kept exact).
struct Number {
  bool integral = true;
  int64_t integer = 0;  // valid when integral
  double real = 0.0;    // valid when not integral
};

Number value_of_text(const Text& text);

// The number rounded to nearest (ties to even) and stored in 32 bits; a value
// outside the 32-bit range is stored as -2,147,483,648.
int32_t store_int32(const Number& number);

// Decimal text shaped by `mask`; the program uses "0," (grouped integer) and
// "0.00" (two decimals).
Text format_number(double number, const Text& mask);

// Decimal digits with a "," between groups of three, counted from the right.
Text grouped_digits(const Text& digits);

// The integer in the "0," form ("1,234,567"), exact for every 64-bit value:
// byte counts and positions are shown this way.
Text grouped_number(int64_t number);

// Plain decimal text, at most 15 significant digits, no blanks.
Text number_text(double number);
