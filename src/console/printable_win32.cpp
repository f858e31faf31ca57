#include "console/printable.h"
#include "text/wide_text_win32.h"

// Lines are UTF-8 inside the program on Windows: a name becomes the
// characters the system gives the file, piece by piece.
Text shown_text(const Text& text) {
  return utf8_shown(text);
}
