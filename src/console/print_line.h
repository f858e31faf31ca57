// A whole line of output: the text, then CR LF.
#pragma once

#include "console/console.h"

inline void print_line(const Text& text) {
  print_text(text);
  print_line_end();
}
