// A whole line of output: the text, then CR LF.
#pragma once

#include "console/console.h"

// The line goes out in one write, never held back: it reaches the output as
// soon as it is printed, whole.
inline void print_line(const Text& text) {
  print_text(text + "\r\n");
}
// The same for a line built for it: its line end is added in place.
inline void print_line(Text&& text) {
  text += "\r\n";
  print_text(text);
}
