// The two ways read_line collects a line, as plain logic over small
// primitives so that both platforms share them: edited with echo at a
// console keyboard, or taken from the bytes of a redirected standard input.
#pragma once

#include <cstddef>

#include "text/text.h"

// A line ends by itself after this many bytes.
constexpr size_t kLineLimit = 16384;
// Redirected input is read in chunks of at most this many bytes.
constexpr size_t kRefillSize = 128;
// Ctrl+Z: ends console input, and marks the end of redirected input.
constexpr unsigned char kEndMark = 26;

// Bytes read from a redirected standard input and not yet consumed: the
// unconsumed ones are bytes[start] to bytes[start + count - 1].
struct PendingInput {
  unsigned char bytes[kRefillSize] = {};
  size_t start = 0;
  size_t count = 0;
};

// Reads up to `max` bytes of redirected input into `buffer` and returns how
// many it read; 0 means the end of the input (including "nothing there now"
// on a pipe).
struct InputSource {
  size_t (*read)(void* context, unsigned char* buffer, size_t max);
  void* context;
};

// The next line of redirected input without its line end. CR is dropped
// wherever it occurs, LF ends the line, byte 26 marks the end of input (the
// first time it ends the line and sets `end_of_input`; once that is set it
// is returned as a line of its own, for good). After a line, when no byte is
// left, one chunk is read ahead so that the end of input is known early.
Text take_redirected_line(PendingInput& pending, bool& end_of_input, InputSource source);

// The console keyboard as the line editor sees it.
struct LineKeyboard {
  // The next character typed (0 to 255), waiting for one; -1 when the
  // keyboard is gone for good.
  int (*next_char)(void* context);
  // Shows one byte on the console.
  void (*echo)(void* context, unsigned char byte);
  void* context;
  // Backspace takes back a whole UTF-8 character rather than one byte.
  bool erase_utf8 = false;
  // Takes back the last `characters` characters shown, `columns` columns wide
  // in all on a terminal: they are blanked and the cursor goes back to where
  // the first of them began. None: Backspace, space and Backspace are echoed
  // `columns` times each.
  void (*take_back)(void* context, size_t characters, size_t columns) = nullptr;
};

// The next line typed at the console, edited with echo: Enter ends it,
// Backspace takes back the last character (as many columns as it takes on
// the screen, two for a wide one), Ctrl+Z ends the input (shown as "^Z" and
// kept in `end_of_input` for the next call, until Backspace takes it back),
// Ctrl+C or Ctrl+\ stops the typing (shown as "^C", "" returned with
// `stopped` set), any other character is stored; the 16,384th character ends
// the line.
Text edit_console_line(bool& end_of_input, LineKeyboard keyboard, bool& stopped);

// The columns a terminal gives the character of `count` bytes: two for a
// wide character of East Asian scripts (CJK ideographs, kana, Hangul,
// fullwidth forms) and for emoji, one for any other character and for bytes
// that are not one UTF-8 character.
size_t display_columns(const unsigned char* bytes, size_t count);
