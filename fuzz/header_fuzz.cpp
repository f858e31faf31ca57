// Fuzz target: header decoding and the number conversions behind it. The
// input is taken at once as a header block, as a size field of any length, as
// the records of a pax extended header and as number text; every result is
// checked against a plain reference.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

#include "extract/header.h"
#include "extract/pax_size.h"
#include "text/number_text.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

bool nul_or_space(char c) {
  return c == '\0' || c == ' ';
}

// The size field's value by a second road: 128-bit arithmetic, capped once
// it is past any size. Returns false for a field that cannot be a size.
bool reference_size(const Text& field, int64_t& size) {
  constexpr unsigned __int128 kCap = static_cast<unsigned __int128>(1) << 70;
  unsigned __int128 value = 0;
  const auto first = field.empty() ? 0u : static_cast<unsigned char>(field[0]);
  if ((first & 0x80) != 0) {
    if (first != 0x80) return false;
    for (size_t i = 1; i < field.size(); ++i) {
      value = value * 256 + static_cast<unsigned char>(field[i]);
      if (value > kCap) value = kCap;
    }
  } else {
    size_t at = 0;
    while (at < field.size() && nul_or_space(field[at])) ++at;
    for (; at < field.size() && field[at] >= '0' && field[at] <= '7'; ++at) {
      value = value * 8 + static_cast<unsigned>(field[at] - '0');
      if (value > kCap) value = kCap;
    }
  }
  if (value > static_cast<unsigned __int128>(kMaxMemberSize)) return false;
  size = static_cast<int64_t>(value);
  return true;
}

void check_size_field(const Text& field) {
  bool bad = true;
  const int64_t size = decode_size_field(field, bad);
  int64_t expected = 0;
  const bool good = reference_size(field, expected);
  check(bad == !good, "size field: bad flag");
  check(size == (good ? expected : 0), "size field: value");
}

void check_header(const Text& block) {
  if (is_empty_header(block)) {
    check(block.empty() || block[0] == '\0', "empty header test");
    return;
  }
  const Member member = decode_header(block);
  check(member.name.size() <= static_cast<size_t>(kNameLength), "name length");
  check(member.name.empty() ||
            (!nul_or_space(member.name.front()) && !nul_or_space(member.name.back())),
        "name trimmed");
  check(block.substr(0, kNameLength).find(member.name) != Text::npos, "name from its field");

  int64_t expected = 0;
  const Text field = block.size() > static_cast<size_t>(kSizeOffset)
                         ? block.substr(kSizeOffset, kSizeLength)
                         : Text();
  const bool good = reference_size(field, expected);
  check(member.bad_size == !good, "header: bad size flag");
  check(member.size == (good ? expected : 0), "header: size");
  check(member.block_count == block_count_of(member.size), "header: block count");
  check(member.block_count * kBlockSize >= member.size &&
            member.block_count * kBlockSize < member.size + kBlockSize,
        "block count covers the size");
  // The type byte is a digit, else type 0 (letters are regular files).
  const char type_byte = block.size() > static_cast<size_t>(kTypeOffset) ? block[kTypeOffset] : 0;
  const bool digit = type_byte >= '0' && type_byte <= '9';
  check(member.type == (digit ? type_byte - '0' : 0), "header: type");
}

// The size record search by a second road, record by record as the format
// frames them: "<length> <key>=<value>\n".
PaxSize reference_pax_size(const Text& records) {
  PaxSize result;
  const size_t total = records.size();
  size_t at = 0;
  while (at < total) {
    size_t i = at;
    size_t length = 0;
    for (; i < total && records[i] >= '0' && records[i] <= '9'; ++i) {
      length = std::min(length * 10 + static_cast<size_t>(records[i] - '0'), total + 1);
    }
    const bool has_length = i > at && i < total && records[i] == ' ';
    const size_t key = i + 1;
    const bool is_size = has_length && records.compare(key, 5, "size=") == 0;
    const bool framed = has_length && length > key - at && length <= total - at &&
                        records[at + length - 1] == '\n' &&
                        records.find('=', key) < at + length - 1;
    if (!framed) {
      if (is_size) result.kind = PaxSizeKind::bad;
      return result;
    }
    if (is_size) {
      const Text value = records.substr(key + 5, at + length - 1 - (key + 5));
      const bool digits = !value.empty() && value.size() <= 19 &&
                          value.find_first_not_of("0123456789") == Text::npos;
      if (!digits || std::stoull(value) > static_cast<uint64_t>(kMaxMemberSize)) {
        result.kind = PaxSizeKind::bad;
        return result;
      }
      result.kind = PaxSizeKind::found;
      result.size = static_cast<int64_t>(std::stoull(value));
    }
    at += length;
  }
  return result;
}

// A record "<length> size=<value>\n" whose length counts its own digits.
Text size_record(int64_t size) {
  const Text rest = " size=" + std::to_string(size) + "\n";
  size_t length = rest.size() + 1;
  while (std::to_string(length).size() + rest.size() != length) ++length;
  return std::to_string(length) + rest;
}

void check_pax_size(const Text& records) {
  const PaxSize found = find_pax_size(records);
  const PaxSize expected = reference_pax_size(records);
  check(found.kind == expected.kind, "pax: kind");
  if (found.kind != PaxSizeKind::found) return;
  check(found.size == expected.size, "pax: size");
  const PaxSize again = find_pax_size(size_record(found.size));
  check(again.kind == PaxSizeKind::found && again.size == found.size, "pax: record made anew");
}

// Digits of an integral value between -2^53 and 2^53, as printf writes them.
std::string plain_digits(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.0f", value);
  return buffer;
}

void check_numbers(const Text& text) {
  const Number number = value_of_text(text);
  const int32_t stored = store_int32(number);
  constexpr int32_t kOutOfRange = std::numeric_limits<int32_t>::min();
  double value = 0.0;
  if (number.integral) {
    const bool in_range = number.integer >= std::numeric_limits<int32_t>::min() &&
                          number.integer <= std::numeric_limits<int32_t>::max();
    check(stored == (in_range ? static_cast<int32_t>(number.integer) : kOutOfRange),
          "store of an integer");
    value = static_cast<double>(number.integer);
  } else {
    value = number.real;
    // nearbyint rounds to nearest, ties to even, in the default rounding mode.
    const double rounded = std::nearbyint(value);
    const bool in_range = !std::isnan(value) && rounded >= -2147483648.0 && rounded <= 2147483647.0;
    check(stored == (in_range ? static_cast<int32_t>(rounded) : kOutOfRange), "store of a real");

    // Plain decimal digits with a sign read as exactly that integer.
    size_t at = text.find_first_not_of(" \t\n");
    if (at != Text::npos && (text[at] == '+' || text[at] == '-')) ++at;
    const size_t digits = at == Text::npos ? 0 : text.size() - at;
    if (digits >= 1 && digits <= 15 && text.find_first_not_of("0123456789", at) == Text::npos) {
      check(value == static_cast<double>(std::strtoll(text.c_str(), nullptr, 10)),
            "decimal integer text");
    }
  }

  const Text grouped = format_number(value, "0,");
  const Text with_decimals = format_number(value, "0.00");
  const Text plain = number_text(value);
  if (std::isfinite(value) && std::fabs(value) < 9007199254740992.0) {
    Text digits;
    for (size_t i = 0; i < grouped.size(); ++i) {
      if (grouped[i] != ',') {
        digits += grouped[i];
        continue;
      }
      check(i > 0 && (grouped.size() - i - 1) % 4 == 3, "group separator place");
    }
    const std::string expected = plain_digits(value);
    check(digits == (expected == "-0" ? "0" : expected), "grouped digits");
    check(with_decimals.size() >= 4 && with_decimals[with_decimals.size() - 3] == '.',
          "two decimals");
    if (value == std::trunc(value) && std::fabs(value) < 1e15) {
      check(plain == (expected == "-0" ? "0" : expected), "plain number text");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Text input(reinterpret_cast<const char*>(data), size);
  check_header(input.substr(0, kBlockSize));
  check_size_field(input);
  check_pax_size(input);
  check_numbers(input);
  return 0;
}
