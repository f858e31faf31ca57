#include "extract/byte_count.h"

#include <string>

#include "text/number_text.h"

// Byte counts are 64-bit, but format_number takes a double, which holds every
// integer only up to 2^53. Larger counts (base-256 size fields reach 2^62) are
// grouped from their own decimal digits so that none is lost.
Text byte_count(int64_t count) {
  constexpr int64_t kExactInDouble = int64_t{1} << 53;
  if (count <= kExactInDouble) return format_number(static_cast<double>(count), "0,");
  const Text digits = std::to_string(count);
  Text grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}
