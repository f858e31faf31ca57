#include "extract/pax_records.h"

#include <cstddef>
#include <cstdint>

#include "extract/header.h"

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Format 1.0 of the GNU sparse records: the map begins the member's data.
constexpr int64_t kSparseMapInData = 1;

// A GNU.sparse number: -1 (and the map bad) when it is not one.
int64_t sparse_number(SparseMap& map, const Text& value) {
  const int64_t number = decimal_count(value);
  if (number < 0) map.bad = true;
  return number;
}

// Takes one well-framed record. `offset_open` is set while a
// GNU.sparse.offset waits for the GNU.sparse.numbytes that sizes its piece.
void take_record(PaxRecords& records, bool& offset_open, const Text& key, const Text& value) {
  SparseMap& sparse = records.sparse;
  if (key == "size") {
    const int64_t size = decimal_count(value);
    records.size = size < 0 ? PaxSize{PaxSizeKind::bad, 0} : PaxSize{PaxSizeKind::found, size};
  } else if (key == "path") {
    records.has_path = true;
    records.path = value;
  } else if (key == "linkpath") {
    records.has_link_path = true;
    records.link_path = value;
  } else if (key == "mtime") {
    records.time = pax_time(value);
  } else if (key == "GNU.sparse.name") {
    records.has_sparse_name = true;
    records.sparse_name = value;
  } else if (key == "GNU.sparse.size" || key == "GNU.sparse.realsize") {
    sparse.sparse = true;
    sparse.real_size = sparse_number(sparse, value);
  } else if (key == "GNU.sparse.major") {
    sparse.sparse = true;
    const int64_t major = sparse_number(sparse, value);
    sparse.map_in_data = major == kSparseMapInData;
    // Only the formats whose layout is known can be restored.
    if (major > kSparseMapInData) sparse.bad = true;
  } else if (key == "GNU.sparse.map") {
    sparse.sparse = true;
    add_listed_pieces(sparse, value);
  } else if (key == "GNU.sparse.offset") {
    sparse.sparse = true;
    if (offset_open) sparse.bad = true;
    add_piece(sparse, sparse_number(sparse, value), 0);
    offset_open = true;
  } else if (key == "GNU.sparse.numbytes") {
    sparse.sparse = true;
    const int64_t size = sparse_number(sparse, value);
    if (!offset_open || size < 0 || sparse.pieces.empty()) {
      sparse.bad = true;
    } else {
      sparse.pieces.back().size = size;
    }
    offset_open = false;
  }
}

}  // namespace

PaxRecords read_pax_records(const Text& records) {
  PaxRecords result;
  bool offset_open = false;
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

    // The record must end in a newline at exactly the length given, and hold
    // a "=" between its key and that newline.
    const size_t end = at + length;
    const size_t equals = has_length ? records.find('=', key_at) : Text::npos;
    const bool framed = has_length && length > key_at - at && length <= total - at &&
                        records[end - 1] == '\n' && equals < end - 1;
    if (!framed) {
      const bool is_size = has_length && records.compare(key_at, 5, "size=") == 0;
      if (is_size) result.size = PaxSize{PaxSizeKind::bad, 0};
      break;
    }
    take_record(result, offset_open, records.substr(key_at, equals - key_at),
                records.substr(equals + 1, end - 1 - (equals + 1)));
    // After a bad size record nothing more is read.
    if (result.size.kind == PaxSizeKind::bad) break;
    at = end;
  }
  // A piece without its size leaves the map unreadable.
  if (offset_open) result.sparse.bad = true;
  return result;
}

FileTime pax_time(const Text& value) {
  FileTime time;
  const bool negative = !value.empty() && value[0] == '-';
  const size_t point = value.find('.');
  const Text whole =
      value.substr(negative ? 1 : 0, point == Text::npos ? Text::npos : point - (negative ? 1 : 0));
  const Text fraction = point == Text::npos ? Text() : value.substr(point + 1);
  if (whole.empty() && fraction.empty()) return time;
  if (whole.find_first_not_of("0123456789") != Text::npos ||
      fraction.find_first_not_of("0123456789") != Text::npos) {
    return time;
  }
  int64_t seconds = 0;
  for (const char c : whole) {
    if (seconds > (INT64_MAX - 9) / 10) return time;
    seconds = seconds * 10 + (c - '0');
  }
  int32_t nanoseconds = 0;
  for (size_t i = 0; i < 9; ++i) {
    nanoseconds = nanoseconds * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  if (negative && nanoseconds > 0) {
    seconds += 1;
    nanoseconds = 1000000000 - nanoseconds;
  }
  time.known = true;
  time.seconds = negative ? -seconds : seconds;
  time.nanoseconds = nanoseconds;
  return time;
}
