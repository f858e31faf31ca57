#include "console/line_input.h"

#include <cstdint>

namespace {

constexpr unsigned char kEnter = 13;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kBackspace = 8;
// The keys that stop a program at a terminal: in the console's raw input
// they arrive as characters.
constexpr unsigned char kCtrlC = 3;
constexpr unsigned char kCtrlBackslash = 28;

// One chunk of redirected input into the (empty) pending bytes; the end of
// the input becomes a single pending byte 26.
void refill(PendingInput& pending, InputSource source) {
  size_t count = source.read(source.context, pending.bytes, kRefillSize);
  if (count > kRefillSize) count = kRefillSize;
  pending.start = 0;
  if (count == 0) {
    pending.bytes[0] = kEndMark;
    count = 1;
  }
  pending.count = count;
}

void consume_one(PendingInput& pending) {
  ++pending.start;
  --pending.count;
  if (pending.count == 0) pending.start = 0;
}

void echo_line_end(const LineKeyboard& keyboard) {
  keyboard.echo(keyboard.context, kEnter);
  keyboard.echo(keyboard.context, kLineFeed);
}

void echo_bytes(const LineKeyboard& keyboard, const char* bytes) {
  for (; *bytes != '\0'; ++bytes)
    keyboard.echo(keyboard.context, static_cast<unsigned char>(*bytes));
}

void echo_times(const LineKeyboard& keyboard, unsigned char byte, size_t times) {
  for (size_t i = 0; i < times; ++i) keyboard.echo(keyboard.context, byte);
}

void take_back(const LineKeyboard& keyboard, size_t characters, size_t columns) {
  if (keyboard.take_back != nullptr) {
    keyboard.take_back(keyboard.context, characters, columns);
    return;
  }
  echo_times(keyboard, kBackspace, columns);
  echo_times(keyboard, ' ', columns);
  echo_times(keyboard, kBackspace, columns);
}

// The code point of the UTF-8 character of `count` bytes (2 to 4); -1 when
// they are not one.
int32_t code_point(const unsigned char* bytes, size_t count) {
  static const unsigned char kLeadBits[] = {0, 0, 0x1F, 0x0F, 0x07};
  if (count < 2 || count > 4) return -1;
  int32_t value = bytes[0] & kLeadBits[count];
  for (size_t i = 1; i < count; ++i) {
    if ((bytes[i] & 0xC0) != 0x80) return -1;
    value = (value << 6) | (bytes[i] & 0x3F);
  }
  return value;
}

// The wide characters of East Asian scripts, and the emoji, which terminals
// show in two columns.
struct WideRange {
  int32_t first;
  int32_t last;
};
constexpr WideRange kWideRanges[] = {
    {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},
    {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD},
    {0x30000, 0x3FFFD},
};

// How many bytes Backspace takes from the end of the line: one, or the whole
// UTF-8 character that ends it when asked for and the bytes form one.
size_t bytes_to_erase(const unsigned char* line, size_t length, bool erase_utf8) {
  if (!erase_utf8) return 1;
  size_t lead = length - 1;
  while (lead > 0 && length - lead < 4 && (line[lead] & 0xC0) == 0x80) --lead;
  const size_t span = length - lead;
  if (span < 2) return 1;
  const unsigned char first = line[lead];
  size_t expected = 0;
  if ((first & 0xE0) == 0xC0) {
    expected = 2;
  } else if ((first & 0xF0) == 0xE0) {
    expected = 3;
  } else if ((first & 0xF8) == 0xF0) {
    expected = 4;
  }
  return expected == span ? span : 1;
}

// Ctrl+C and Ctrl+\ stop the run wherever they are typed, a prompt included.
bool stops(int key) {
  return key == kCtrlC || key == kCtrlBackslash;
}

Text stop_typing(const LineKeyboard& keyboard, bool& stopped) {
  echo_bytes(keyboard, "^C");
  echo_line_end(keyboard);
  stopped = true;
  return Text();
}

}  // namespace

Text take_redirected_line(PendingInput& pending, bool& end_of_input, InputSource source) {
  unsigned char line[kLineLimit];
  size_t length = 0;
  for (;;) {
    if (pending.count == 0) refill(pending, source);
    const unsigned char byte = pending.bytes[pending.start];
    if (byte == kEnter) {
      consume_one(pending);
      continue;
    }
    if (byte == kLineFeed) {
      consume_one(pending);
      break;
    }
    if (byte == kEndMark) {
      if (!end_of_input) {
        // The line ends here; the mark stays pending for the next call.
        end_of_input = true;
        break;
      }
      // Only the mark stays: nothing after it is ever returned.
      pending.bytes[0] = kEndMark;
      pending.start = 0;
      pending.count = 1;
      return Text(1, static_cast<char>(kEndMark));
    }
    line[length++] = byte;
    consume_one(pending);
    if (length == kLineLimit) break;
  }
  if (pending.count == 0) {
    refill(pending, source);
    if (pending.bytes[0] == kEndMark) end_of_input = true;
  }
  return Text(reinterpret_cast<const char*>(line), length);
}

Text edit_console_line(bool& end_of_input, LineKeyboard keyboard, bool& stopped) {
  unsigned char line[kLineLimit];
  size_t length = 0;
  bool in_end_state = end_of_input;
  stopped = false;
  for (;;) {
    if (in_end_state) {
      // Ctrl+Z typed (now or on an earlier line): only Enter and Backspace count.
      end_of_input = true;
      echo_bytes(keyboard, "^Z");
      for (;;) {
        const int key = keyboard.next_char(keyboard.context);
        if (key < 0) return Text(reinterpret_cast<const char*>(line), length);
        if (stops(key)) return stop_typing(keyboard, stopped);
        if (key == kEnter) {
          echo_line_end(keyboard);
          return Text(reinterpret_cast<const char*>(line), length);
        }
        if (key == kBackspace) {
          end_of_input = false;
          take_back(keyboard, 2, 2);
          break;
        }
      }
      in_end_state = false;
    }
    const int key = keyboard.next_char(keyboard.context);
    if (key < 0) return Text(reinterpret_cast<const char*>(line), length);
    if (stops(key)) return stop_typing(keyboard, stopped);
    if (key == kEnter) {
      echo_line_end(keyboard);
      break;
    }
    if (key == kBackspace) {
      if (length == 0) continue;
      const size_t count = bytes_to_erase(line, length, keyboard.erase_utf8);
      length -= count;
      take_back(keyboard, 1, display_columns(line + length, count));
      continue;
    }
    if (key == kEndMark) {
      in_end_state = true;
      continue;
    }
    line[length++] = static_cast<unsigned char>(key);
    keyboard.echo(keyboard.context, static_cast<unsigned char>(key));
    if (length == kLineLimit) {
      echo_line_end(keyboard);
      break;
    }
  }
  return Text(reinterpret_cast<const char*>(line), length);
}

size_t display_columns(const unsigned char* bytes, size_t count) {
  const int32_t value = code_point(bytes, count);
  for (const WideRange& range : kWideRanges) {
    if (value >= range.first && value <= range.last) return 2;
  }
  return 1;
}
