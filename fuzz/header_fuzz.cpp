// Fuzz target: header decoding and the number conversions behind it. The
// input is taken at once as a header block, as a size field of any length, as
// the records of a pax extended header and as number text; every result is
// checked against a plain reference.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

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

// The size field's value by a second road: the base-256 digits with their
// leading zero bytes dropped must fit in eight bytes; the octal digits after
// any NULs and spaces are converted by std::from_chars. Returns false for a
// field that cannot be a size.
bool reference_size(const Text& field, int64_t& size) {
  uint64_t value = 0;
  if (!field.empty() && (static_cast<unsigned char>(field[0]) & 0x80) != 0) {
    if (static_cast<unsigned char>(field[0]) != 0x80) return false;
    const size_t first = field.find_first_not_of('\0', 1);
    const std::string_view digits =
        first == Text::npos ? std::string_view() : std::string_view(field).substr(first);
    if (digits.size() > sizeof value) return false;
    for (const char byte : digits) value = value << 8 | static_cast<unsigned char>(byte);
  } else {
    const size_t first = field.find_first_not_of(std::string_view("\0 ", 2));
    const std::string_view rest =
        first == Text::npos ? std::string_view() : std::string_view(field).substr(first);
    const std::string_view digits = rest.substr(0, rest.find_first_not_of("01234567"));
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 8);
    if (error == std::errc::result_out_of_range) return false;
  }
  if (value > static_cast<uint64_t>(kMaxMemberSize)) return false;
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

// The size record search by a second road: each record is cut off at the
// length its prefix (the digits before the first space) gives, and a size
// value is converted by std::from_chars once its leading zeros are dropped.
PaxSize reference_pax_size(const Text& records) {
  PaxSize result;
  std::string_view rest = records;
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    const std::string_view prefix = rest.substr(0, space);
    size_t length = 0;
    const auto [end, error] = std::from_chars(prefix.data(), prefix.data() + prefix.size(), length);
    const bool has_length =
        space != std::string_view::npos && !prefix.empty() && end == prefix.data() + prefix.size();
    const std::string_view after = has_length ? rest.substr(space + 1) : std::string_view();
    const bool is_size = after.starts_with("size=");
    // A record holds more than its prefix, ends in a newline and has a "="
    // before that newline.
    const bool framed =
        has_length && error != std::errc::result_out_of_range && length > space + 1 &&
        length <= rest.size() && rest[length - 1] == '\n' &&
        rest.substr(space + 1, length - space - 2).find('=') != std::string_view::npos;
    if (!framed) {
      if (is_size) result.kind = PaxSizeKind::bad;
      return result;
    }
    if (is_size) {
      const std::string_view value = rest.substr(space + 6, length - space - 7);
      const size_t nonzero = value.find_first_not_of('0');
      const std::string_view digits =
          nonzero == std::string_view::npos ? std::string_view() : value.substr(nonzero);
      uint64_t number = 0;
      const auto [stop, failure] =
          std::from_chars(digits.data(), digits.data() + digits.size(), number);
      const bool whole = digits.empty() || (failure == std::errc() && stop == digits.end());
      if (value.empty() || !whole || number > static_cast<uint64_t>(kMaxMemberSize)) {
        result.kind = PaxSizeKind::bad;
        return result;
      }
      result.kind = PaxSizeKind::found;
      result.size = static_cast<int64_t>(number);
    }
    rest.remove_prefix(length);
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
