// Byte-string operations. Every position is 1-based, every out-of-range
// argument yields the empty text or 0, and no operation ever reads outside
// its arguments. Sums of positions and lengths are formed in 64 bits so that
// extreme 32-bit arguments cannot overflow.
#include "text/string_ops.h"

#include <cstddef>
#include <cstring>

namespace {

unsigned char byte_at(const Text& text, size_t index) {
  return static_cast<unsigned char>(text[index]);
}

// Index (0-based) of the first occurrence of `pattern` at or after `from`,
// or npos. `pattern` is not empty.
size_t find_from(const Text& text, const Text& pattern, size_t from) {
  return text.find(pattern, from);
}

// Start indexes (0-based) of the non-overlapping occurrences of a non-empty
// `delimiter`, scanning from the start of `text`.
std::vector<size_t> occurrences(const Text& text, const Text& delimiter) {
  std::vector<size_t> found;
  size_t at = find_from(text, delimiter, 0);
  while (at != Text::npos) {
    found.push_back(at);
    at = find_from(text, delimiter, at + delimiter.size());
  }
  return found;
}

}  // namespace

Text field_of(const Text& text, const Text& delimiter, int32_t index) {
  if (delimiter.empty()) {
    // Without a delimiter the whole text is the only field.
    return (index == 1 || index == -1) ? text : Text();
  }
  const std::vector<size_t> found = occurrences(text, delimiter);
  const int64_t fields = static_cast<int64_t>(found.size()) + 1;
  int64_t number = index;
  if (number < 0) number = fields + number + 1;
  if (number < 1 || number > fields) return Text();

  const size_t begin = number == 1 ? 0 : found[number - 2] + delimiter.size();
  const size_t end = number == fields ? text.size() : found[number - 1];
  return text.substr(begin, end - begin);
}

Text substring(const Text& text, int32_t start, int32_t length) {
  const int64_t size = static_cast<int64_t>(text.size());
  // A start of 0 or below (never asked for below 0) gives the empty text.
  if (start < 1 || start > size || length == 0) return Text();
  const int64_t remaining = size - start + 1;
  int64_t count = length;
  if (count < 0) {
    count = size + count;
    if (count < 0) count = remaining;
  }
  if (count > remaining) count = remaining;
  return text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(count));
}

Text right_part(const Text& text, int32_t n) {
  if (n <= 0) return Text();
  if (static_cast<size_t>(n) >= text.size()) return text;
  return text.substr(text.size() - static_cast<size_t>(n));
}

int32_t find_text(int32_t start, const Text& text, const Text& pattern) {
  const int64_t size = static_cast<int64_t>(text.size());
  if (size == 0 || start == 0) return 0;

  if (start > 0) {
    if (start > size) return 0;
    if (pattern.empty()) return start;
    const size_t at = find_from(text, pattern, static_cast<size_t>(start - 1));
    return at == Text::npos ? 0 : static_cast<int32_t>(at + 1);
  }

  // Backward: the last occurrence lying wholly within the first `limit` bytes.
  const int64_t limit = size + start + 1;
  if (limit <= 0) return 0;
  if (pattern.empty()) return static_cast<int32_t>(limit);
  const int64_t pattern_size = static_cast<int64_t>(pattern.size());
  if (pattern_size > limit) return 0;
  for (int64_t at = limit - pattern_size; at >= 0; --at) {
    if (std::memcmp(text.data() + at, pattern.data(), pattern.size()) == 0) {
      return static_cast<int32_t>(at + 1);
    }
  }
  return 0;
}

Text trim_left_set(const Text& text, const Text& set) {
  if (set.empty()) return text;
  const size_t first = text.find_first_not_of(set);
  return first == Text::npos ? Text() : text.substr(first);
}

Text trim_right_set(const Text& text, const Text& set) {
  if (set.empty()) return text;
  const size_t last = text.find_last_not_of(set);
  return last == Text::npos ? Text() : text.substr(0, last + 1);
}

Text text_of_codes(const std::vector<int32_t>& codes) {
  Text result;
  result.reserve(codes.size());
  for (const int32_t code : codes) {
    if (code == -1) continue;
    result.push_back(static_cast<char>(static_cast<unsigned char>(code & 0xFF)));
  }
  return result;
}

int32_t first_code(const Text& text) {
  return text.empty() ? -1 : byte_at(text, 0);
}
