// The progress row on a POSIX terminal: escape sequences written to standard
// output, only when standard output is the terminal itself.
#include <errno.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "console/progress_row.h"

namespace {

// Width assumed when the terminal does not tell its own.
constexpr size_t kUsualWidth = 80;
// Back to the row's first column, and blank the row from the cursor on.
const Text kRowStart = "\r";
const Text kEraseRest = "\x1b[K";

void write_out(const Text& text) {
  const char* bytes = text.data();
  size_t count = text.size();
  while (count > 0) {
    const ssize_t written = write(STDOUT_FILENO, bytes, count);
    if (written > 0) {
      bytes += written;
      count -= static_cast<size_t>(written);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

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
  write_out(kRowStart + text.substr(0, width - 1) + kEraseRest + kRowStart);
}

void clear_progress_row() {
  if (output_is_screen()) write_out(kRowStart + kEraseRest);
}
