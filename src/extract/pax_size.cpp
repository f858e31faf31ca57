#include "extract/pax_size.h"

#include <cstddef>

#include "extract/header.h"

namespace {

// What a size record holds between its length and its value.
const Text& size_key() {
  static const Text key = "size=";
  return key;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The bytes of `text` from `at` up to `end` as a size: false for no bytes,
// a byte that is not a decimal digit, or a value past the largest size.
bool decimal_size(const Text& text, size_t at, size_t end, int64_t& value) {
  if (at >= end) return false;
  value = 0;
  for (size_t i = at; i < end; ++i) {
    if (!is_digit(text[i])) return false;
    const int64_t digit = text[i] - '0';
    if (value > (kMaxMemberSize - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

}  // namespace

PaxSize find_pax_size(const Text& records) {
  PaxSize result;
  const size_t total = records.size();
  size_t at = 0;
  while (at < total) {
    // The length: decimal digits, then one space. Its value is capped just
    // past the bytes that are left, so that no count can overflow.
    size_t digits_end = at;
    size_t length = 0;
    while (digits_end < total && is_digit(records[digits_end])) {
      if (length <= total) length = length * 10 + static_cast<size_t>(records[digits_end] - '0');
      ++digits_end;
    }
    const bool has_length = digits_end > at && digits_end < total && records[digits_end] == ' ';
    const size_t key_at = digits_end + 1;
    const bool is_size = has_length && records.compare(key_at, size_key().size(), size_key()) == 0;

    // The record must end in a newline at exactly the length given, and hold
    // a "=" between its key and that newline.
    const size_t end = at + length;
    bool framed =
        has_length && length > key_at - at && length <= total - at && records[end - 1] == '\n';
    if (framed) {
      const size_t equals = records.find('=', key_at);
      framed = equals < end - 1;
    }
    if (!framed) {
      if (is_size) result.kind = PaxSizeKind::bad;
      return result;
    }

    if (is_size) {
      int64_t value = 0;
      if (!decimal_size(records, key_at + size_key().size(), end - 1, value)) {
        result.kind = PaxSizeKind::bad;
        return result;
      }
      result.kind = PaxSizeKind::found;
      result.size = value;
    }
    at = end;
  }
  return result;
}
