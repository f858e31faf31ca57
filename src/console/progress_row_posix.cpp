// The progress row on a POSIX terminal: escape sequences written to standard
// output, only when standard output is the terminal itself, through the
// console's writer (which waits out a terminal left non-blocking).
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "console/console.h"
#include "console/progress_row.h"

namespace {

// Width assumed when the terminal does not tell its own.
constexpr size_t kUsualWidth = 80;
// Back to the row's first column, and blank the row from the cursor on.
const Text kRowStart = "\r";
const Text kEraseRest = "\x1b[K";

}  // namespace

bool output_is_screen() {
  // Standard output stays what it was at start for the whole run.
  static const bool terminal = isatty(STDOUT_FILENO) == 1;
  return terminal;
}

void show_progress_row(const Text& text) {
  if (!output_is_screen()) return;
  size_t width = kUsualWidth;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) width = size.ws_col;
  // One column is kept free: text that filled the row would leave the
  // terminal about to wrap, and the cursor could no longer go back to it.
  print_text(kRowStart + text.substr(0, width - 1) + kEraseRest + kRowStart);
}

void clear_progress_row() {
  if (output_is_screen()) print_text(kRowStart + kEraseRest);
}
