// Fuzz target: header decoding and the number conversions behind it. The
// input is taken at once as a header block, as a size field of any length, as
// the records of a pax extended header, as the sparse map that begins a
// member's data and as number text; every result is checked against a plain
// reference written another way.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "extract/header.h"
#include "extract/pax_records.h"
#include "extract/sparse_map.h"
#include "text/number_text.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// The size field's value by a second road: the base-256 digits with their
// leading zero bytes dropped must fit in eight bytes; an octal field is cut
// at its NULs and spaces into words, of which at most one, all octal digits,
// may be there, converted by std::from_chars. Returns false for a field that
// cannot be a size.
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
    const std::string_view blanks("\0 ", 2);
    const size_t first = field.find_first_not_of(blanks);
    const std::string_view rest =
        first == Text::npos ? std::string_view() : std::string_view(field).substr(first);
    const std::string_view digits = rest.substr(0, rest.find_first_of(blanks));
    if (rest.substr(digits.size()).find_first_not_of(blanks) != std::string_view::npos) {
      return false;
    }
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, 8);
    if (error == std::errc::result_out_of_range) return false;
    if (end != digits.data() + digits.size()) return false;
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

// A name field's text by a second road: the bytes before its first NUL.
Text reference_name(std::string_view field) {
  return Text(field.substr(0, field.find('\0')));
}

// The field of `length` bytes at `offset`, as much of it as the block holds.
std::string_view field_at(const Text& block, size_t offset, size_t length) {
  if (block.size() <= offset) return {};
  return std::string_view(block).substr(offset, length);
}

// The checksum test by a second road: the field read by sscanf-like steps
// of std::from_chars after its blanks, the sums by std::accumulate.
bool reference_checksum(const Text& block) {
  if (block.size() != static_cast<size_t>(kBlockSize)) return false;
  const std::string_view field = std::string_view(block).substr(kChecksumOffset, kChecksumLength);
  const size_t first = field.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  unsigned stored = 0;
  const auto [end, error] =
      std::from_chars(field.data() + first, field.data() + field.size(), stored, 8);
  if (error != std::errc()) return false;
  const std::string_view rest(end, field.data() + field.size() - end);
  if (rest.find_first_not_of(std::string_view("\0 ", 2)) != std::string_view::npos) return false;
  Text summed = block;
  summed.replace(kChecksumOffset, kChecksumLength, kChecksumLength, ' ');
  const long long as_unsigned =
      std::accumulate(summed.begin(), summed.end(), 0LL,
                      [](long long sum, char c) { return sum + static_cast<unsigned char>(c); });
  const long long as_signed =
      std::accumulate(summed.begin(), summed.end(), 0LL,
                      [](long long sum, char c) { return sum + static_cast<signed char>(c); });
  return stored == as_unsigned || stored == as_signed;
}

void check_header(const Text& block) {
  check(checksum_matches(block) == reference_checksum(block), "checksum");
  if (is_zero_block(block)) {
    check(block == Text(kBlockSize, '\0'), "zero block test");
    return;
  }
  const Member member = decode_header(block);
  // The name field, after the prefix field and "/" in a POSIX ustar header.
  Text name = reference_name(field_at(block, kNameOffset, kNameLength));
  const Text prefix = reference_name(field_at(block, kPrefixOffset, kPrefixLength));
  if (field_at(block, kMagicOffset, 6) == std::string_view("ustar\0", 6) && !prefix.empty()) {
    name = prefix + "/" + name;
  }
  check(member.name == name, "name from its fields");

  int64_t expected = 0;
  const Text field = block.size() > static_cast<size_t>(kSizeOffset)
                         ? block.substr(kSizeOffset, kSizeLength)
                         : Text();
  const bool good = reference_size(field, expected);
  check(member.bad_size == !good, "header: bad size flag");
  check(member.size == (good ? expected : 0), "header: size");
  const int64_t blocks = block_count_of(member.size);
  check(blocks * kBlockSize >= member.size && blocks * kBlockSize < member.size + kBlockSize,
        "block count covers the size");
  // The type byte is a digit, else type 0 (letters are regular files), but
  // a GNU dumpdir ("D") is a directory.
  const char type_byte = block.size() > static_cast<size_t>(kTypeOffset) ? block[kTypeOffset] : 0;
  const bool digit = type_byte >= '0' && type_byte <= '9';
  check(member.type == (type_byte == 'D' ? 5 : digit ? type_byte - '0' : 0), "header: type");
}

// The size record search by a second road: each record is cut off at the
// length its prefix (the digits before the first space) gives, and a size
// value is converted by std::from_chars once its leading zeros are dropped.
// `path` gets the value of the last path record read.
PaxSize reference_pax_size(const Text& records, std::optional<Text>& path) {
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
    if (after.starts_with("path=")) path = Text(rest.substr(space + 6, length - space - 7));
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

void check_pax_records(const Text& records) {
  const PaxRecords read = read_pax_records(records);
  const PaxSize found = read.size;
  std::optional<Text> path;
  const PaxSize expected = reference_pax_size(records, path);
  check(read.has_path == path.has_value() && (!read.has_path || read.path == *path), "pax: path");
  check(found.kind == expected.kind, "pax: kind");
  if (found.kind != PaxSizeKind::found) return;
  check(found.size == expected.size, "pax: size");
  const PaxSize again = read_pax_records(size_record(found.size)).size;
  check(again.kind == PaxSizeKind::found && again.size == found.size, "pax: record made anew");
}

// A number of a sparse map by a second road: its digits converted by
// std::from_chars once the leading zeros are dropped; -1 for anything but
// digits of a value up to 2^62 (`empty_ok`: no digits at all read as 0).
int64_t reference_map_number(std::string_view token, bool empty_ok) {
  if (token.empty()) return empty_ok ? 0 : -1;
  if (token.find_first_not_of("0123456789") != std::string_view::npos) return -1;
  const size_t nonzero = token.find_first_not_of('0');
  if (nonzero == std::string_view::npos) return 0;
  const std::string_view digits = token.substr(nonzero);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || value > static_cast<uint64_t>(kMaxMemberSize)) return -1;
  return static_cast<int64_t>(value);
}

// The map at the start of a sparse member's data, read block by block,
// against the whole text split at its newlines.
void check_data_map(const Text& input) {
  SparseMap map;
  DataMapReader reader;
  for (size_t at = 0; at < input.size(); at += kBlockSize) {
    read_map_block(reader, map, input.substr(at, kBlockSize));
  }
  std::vector<SparsePiece> pieces;
  bool bad = false;
  bool done = false;
  int64_t count = -1;
  int64_t offset = -1;
  std::string_view rest = input;
  while (!done && !bad) {
    const size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) {
      // A number not yet ended: bad only when it cannot become one.
      bad = reference_map_number(rest, true) < 0;
      break;
    }
    const int64_t value = reference_map_number(rest.substr(0, newline), false);
    rest.remove_prefix(newline + 1);
    if (value < 0) {
      bad = true;
    } else if (count < 0) {
      count = value;
    } else if (offset < 0) {
      offset = value;
    } else {
      pieces.push_back(SparsePiece{offset, value});
      offset = -1;
    }
    done = count >= 0 && static_cast<int64_t>(pieces.size()) == count;
  }
  check(map.bad == bad, "data map: bad");
  check(reader.done == (done || bad), "data map: done");
  if (bad) return;
  check(map.pieces.size() == pieces.size(), "data map: pieces");
  for (size_t i = 0; i < pieces.size(); ++i) {
    check(map.pieces[i].offset == pieces[i].offset && map.pieces[i].size == pieces[i].size,
          "data map: piece");
  }
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
  check_pax_records(input);
  check_data_map(input);
  check_numbers(input);
  return 0;
}
