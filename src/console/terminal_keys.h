// The bytes a terminal sends for key presses, turned into key values: one
// byte for a key that gives a character, 0 and the PC scan code for function,
// cursor and editing keys, 0 and the letter key's scan code for Alt+letter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "text/text.h"

enum class TerminalUnitKind {
  incomplete,     // the bytes so far begin a sequence that may go on
  key,            // a key press
  nothing,        // a sequence of no known key, taken whole and giving nothing
  cursor_report,  // the terminal's answer to a cursor position query
};

// The first unit of a run of terminal bytes.
struct TerminalUnit {
  TerminalUnitKind kind = TerminalUnitKind::incomplete;
  size_t length = 0;  // bytes it takes (0 while incomplete)
  // The key value; for a cursor report, the key that the same bytes give
  // when no answer is awaited ("" for none).
  Text key;
  int32_t row = 0;  // cursor report only
  int32_t column = 0;
};

// Decodes the first unit of `bytes` (count >= 1). `more_may_follow` false
// means no further byte is coming soon: what has begun is settled now (an Esc
// on its own is the Esc key, a cut-off sequence gives nothing).
TerminalUnit decode_terminal_unit(const unsigned char* bytes, size_t count, bool more_may_follow);

// A cursor position report ("ESC [ row ; column R") beginning at or after
// `from`: its place and length and the position it reports.
struct CursorReport {
  bool found = false;
  size_t at = 0;
  size_t length = 0;
  int32_t row = 0;
  int32_t column = 0;
};
CursorReport find_cursor_report(const unsigned char* bytes, size_t count, size_t from);
