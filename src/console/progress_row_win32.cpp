// The progress row on the Windows console: the text written over the
// cursor's row and the cursor put back at the row's start, only when
// standard output is the console's screen buffer.
#include <windows.h>

#include "console/progress_row.h"

namespace {

HANDLE screen_output() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}

// Writes `text` over the cursor's row, padded with blanks to one column less
// than the row's width (a full row would move the cursor to the next one),
// and puts the cursor back at the row's start.
void write_row(const Text& text) {
  const HANDLE output = screen_output();
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(output, &info) || info.dwSize.X < 2) return;
  const size_t room = static_cast<size_t>(info.dwSize.X) - 1;
  Text row = text.substr(0, room);
  row.resize(room, ' ');
  const COORD start{0, info.dwCursorPosition.Y};
  SetConsoleCursorPosition(output, start);
  DWORD written = 0;
  WriteFile(output, row.data(), static_cast<DWORD>(row.size()), &written, nullptr);
  SetConsoleCursorPosition(output, start);
}

}  // namespace

bool output_is_screen() {
  // Standard output stays what it was at start for the whole run.
  static const bool screen = [] {
    DWORD mode = 0;
    return GetConsoleMode(screen_output(), &mode) != FALSE;
  }();
  return screen;
}

void show_progress_row(const Text& text) {
  if (output_is_screen()) write_row(text);
}

void clear_progress_row() {
  if (output_is_screen()) write_row("");
}
