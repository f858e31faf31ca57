#include "console/printable.h"

namespace {

bool is_control_byte(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

// The lead byte of U+0080 to U+00BF in UTF-8, and the range of second bytes
// that makes it one of the C1 controls U+0080 to U+009F.
constexpr unsigned char kC1Lead = 0xC2;
constexpr unsigned char kC1First = 0x80;
constexpr unsigned char kC1Last = 0x9F;

void append_escaped(Text& shown, unsigned char byte) {
  static const char kDigits[] = "0123456789abcdef";
  shown += "\\x";
  shown += kDigits[byte >> 4];
  shown += kDigits[byte & 15];
}

}  // namespace

Text escaped_controls(const Text& text) {
  Text shown;
  shown.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const auto next = at + 1 < text.size() ? static_cast<unsigned char>(text[at + 1]) : 0;
    if (is_control_byte(byte)) {
      append_escaped(shown, byte);
    } else if (byte == kC1Lead && next >= kC1First && next <= kC1Last) {
      append_escaped(shown, byte);
      append_escaped(shown, next);
      ++at;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown;
}

Text printable(const Text& text) {
  return escaped_controls(shown_text(text));
}
