// A whole line of output: the text, then CR LF.
#pragma once

#include "console/console.h"

// The line goes out in one write, never held back: it reaches the output as
// soon as it is printed, whole.
inline void print_line(const Text& text) {
  print_text(text + "\r\n");
}
