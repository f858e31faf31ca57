// The console on Windows: the standard handles for output and redirected
// input, the console's input buffer ("CONIN$") for keys, and the screen
// buffer of the console output for the cursor. The program's texts are bytes
// (UTF-8, or an old archive's code page): to a console they are written as
// wide text, so every name shows as it is on disk; redirected output gets
// them as UTF-8. Typed text arrives as wide characters, handed on as UTF-8.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/console_events.h"
#include "console/line_input.h"
#include "text/wide_text_win32.h"

namespace {

constexpr DWORD kOutputMode = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
constexpr DWORD kRawInputMode = 0;
constexpr DWORD kCursorSize = 10;
// Larger texts are written in pieces of this size: bytes to a file or pipe,
// wide characters to a console.
constexpr size_t kLargestWrite = 1u << 30;
constexpr size_t kLargestConsoleWrite = 8192;
// Calls on the console keyboard that fail this many times in a row mean that
// it is gone (its console closed): no key will ever come, input has ended.
constexpr int kFailuresToGiveUp = 100;
// The most input events take_waiting_keys reads at once.
constexpr DWORD kEventsTaken = 128;

struct ConsoleState {
  bool started = false;
  HANDLE standard_input = INVALID_HANDLE_VALUE;
  HANDLE standard_output = INVALID_HANDLE_VALUE;
  HANDLE standard_error = INVALID_HANDLE_VALUE;
  HANDLE console_output = INVALID_HANDLE_VALUE;
  HANDLE keyboard = INVALID_HANDLE_VALUE;
  int keyboard_failures = 0;  // failed keyboard calls in a row
  bool input_is_console = false;
  bool output_is_console = false;  // standard output
  bool echo_is_console = false;    // console output
  bool lines_lost = false;         // a write to standard output failed
  PendingInput pending;
  bool end_of_input = false;
  Text typed;             // the UTF-8 bytes of the character last typed
  size_t typed_next = 0;  // the first of them not yet taken
  Text echoed;            // bytes of a character being echoed, not yet whole
  // The cells of the console's screen buffer that each character echoed on
  // the line being edited took, in order: Backspace takes back that many.
  std::vector<uint16_t> echoed_cells;
  // Key presses taken out of the input queue by take_waiting_keys and not
  // wanted there: they come before the queue's own.
  std::deque<Text> kept_keys;
};

ConsoleState console;

bool has_keyboard() {
  return console.keyboard != INVALID_HANDLE_VALUE && console.keyboard_failures < kFailuresToGiveUp;
}

// Counts the keyboard calls that fail in a row; passes `ok` on.
bool keyboard_call(bool ok) {
  console.keyboard_failures = ok ? 0 : console.keyboard_failures + 1;
  return ok;
}

// WriteFile with critical-error dialogs switched off; a failed or short write
// shows nothing and is not retried.
bool write_bytes(HANDLE handle, const char* bytes, size_t count) {
  while (count > 0) {
    const DWORD piece = static_cast<DWORD>(count < kLargestWrite ? count : kLargestWrite);
    const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    SetLastError(0);
    DWORD written = 0;
    const BOOL ok = WriteFile(handle, bytes, piece, &written, nullptr);
    const DWORD error = GetLastError();
    SetErrorMode(previous_mode);
    if (!ok || error != 0 || written != piece) return false;
    bytes += piece;
    count -= piece;
  }
  return true;
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

// WriteConsoleW in pieces that never split a surrogate pair; a failed write
// is not retried. False when one failed.
bool write_wide(HANDLE handle, const std::wstring& wide) {
  size_t start = 0;
  while (start < wide.size()) {
    size_t count = wide.size() - start;
    if (count > kLargestConsoleWrite) {
      count = kLargestConsoleWrite;
      if (IS_HIGH_SURROGATE(wide[start + count - 1])) --count;
    }
    DWORD written = 0;
    if (!WriteConsoleW(handle, wide.data() + start, static_cast<DWORD>(count), &written, nullptr)) {
      return false;
    }
    start += count;
  }
  return true;
}

// A text to a console as wide text, to anything else as UTF-8. False when
// the write failed.
bool write_text(HANDLE handle, bool console_handle, const Text& text) {
  if (console_handle) return write_wide(handle, wide_shown(text));
  const Text bytes = utf8_shown(text);
  return write_bytes(handle, bytes.data(), bytes.size());
}

// The lines go to standard output; one that fails there is lost.
void write_lines(const Text& text) {
  if (!write_text(console.standard_output, console.output_is_console, text)) {
    console.lines_lost = true;
  }
}

// --- key events ---------------------------------------------------------------

ConsoleEvent event_of(const INPUT_RECORD& record) {
  ConsoleEvent event;
  if (record.EventType != KEY_EVENT) return event;
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  event.is_key = true;
  event.key_down = key.bKeyDown != FALSE;
  event.character = static_cast<unsigned char>(key.uChar.AsciiChar);
  event.scan_code = static_cast<unsigned char>(key.wVirtualScanCode & 0xFF);
  event.alt_held = (key.dwControlKeyState & (LEFT_ALT_PRESSED | RIGHT_ALT_PRESSED)) != 0;
  event.caps_lock_on = (key.dwControlKeyState & CAPSLOCK_ON) != 0;
  return event;
}

// Looks at the queue of the console keyboard, discarding the events that are
// no key press, until a key press is first in it (its value is returned and
// the event stays queued) or the queue is empty ("").
Text first_waiting_key() {
  if (!console.kept_keys.empty()) return console.kept_keys.front();
  if (!has_keyboard()) return "";
  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!keyboard_call(PeekConsoleInputA(console.keyboard, &record, 1, &count)) || count == 0) {
      return "";
    }
    Text key = console_event_key(event_of(record));
    if (!key.empty()) return key;
    if (!keyboard_call(ReadConsoleInputA(console.keyboard, &record, 1, &count)) || count == 0) {
      return "";
    }
  }
}

// --- line input ---------------------------------------------------------------

// One wide character typed (a surrogate pair is one), read whole; "" when
// the read failed. A read blocks until a key comes, so one that keeps giving
// nothing is a failure.
std::wstring read_typed_character() {
  std::wstring units;
  do {
    Sleep(1);
    wchar_t unit = 0;
    DWORD count = 0;
    if (!keyboard_call(ReadConsoleW(console.keyboard, &unit, 1, &count, nullptr) && count == 1)) {
      return units;
    }
    units += unit;
  } while (IS_HIGH_SURROGATE(units.back()) && has_keyboard());
  return units;
}

// The next byte typed, the UTF-8 bytes of each character in turn; -1 once
// the keyboard is gone.
int next_console_char(void*) {
  while (console.typed_next >= console.typed.size()) {
    if (!has_keyboard()) return -1;
    console.typed = utf8_of(read_typed_character());
    console.typed_next = 0;
  }
  return static_cast<unsigned char>(console.typed[console.typed_next++]);
}

// How many bytes the UTF-8 character that begins with `lead` has.
size_t utf8_length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// The cursor's place in the screen buffer of the echo, counted in cells from
// the buffer's start; -1 when it cannot be asked (no console).
int64_t echo_cell(int64_t& row_width) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!console.echo_is_console || !GetConsoleScreenBufferInfo(console.console_output, &info)) {
    return -1;
  }
  row_width = info.dwSize.X;
  return int64_t{info.dwCursorPosition.Y} * row_width + info.dwCursorPosition.X;
}

// Shows one echoed character and keeps how many cells it took: one or two
// for a wide character, as the console keeps it, more for a tab.
void show_echoed(const Text& character) {
  int64_t width = 0;
  const int64_t before = echo_cell(width);
  write_text(console.console_output, console.echo_is_console, character);
  if (before < 0) return;
  int64_t cells = echo_cell(width) - before;
  // Written on the last row, a character that wraps scrolls the buffer.
  if (cells < 0) cells += width;
  console.echoed_cells.push_back(static_cast<uint16_t>(std::clamp<int64_t>(cells, 0, 0xFFFF)));
}

// Shows a typed byte: a character of several bytes once it is whole.
void echo_byte(void*, unsigned char byte) {
  const bool continues = (byte & 0xC0) == 0x80 && !console.echoed.empty();
  if (!continues && !console.echoed.empty()) {
    // A character left unfinished shows as what it is.
    show_echoed(console.echoed);
    console.echoed.clear();
  }
  console.echoed += static_cast<char>(byte);
  if (console.echoed.size() >= utf8_length(static_cast<unsigned char>(console.echoed[0]))) {
    show_echoed(console.echoed);
    console.echoed.clear();
  }
}

// Puts the cursor on `place` by writing the row's text before it again from
// the row's start. A console drawn on a terminal (Wine's) moves the
// terminal's cursor by cells, one a character, and a wide character there
// takes two columns: after one, a move by cells lands a column off, while
// text written from the row's start lands where the terminal shows it.
void write_up_to(COORD place) {
  std::wstring before(static_cast<size_t>(place.X), L' ');
  DWORD got = 0;
  ReadConsoleOutputCharacterW(console.console_output, before.data(), place.X, COORD{0, place.Y},
                              &got);
  before.resize(got);
  SetConsoleCursorPosition(console.console_output, COORD{0, place.Y});
  write_wide(console.console_output, before);
  SetConsoleCursorPosition(console.console_output, place);
}

// Takes back the last characters echoed: the cells they took are blanked
// (at least as many as the terminal columns they show in) and the cursor
// goes back to where the first began. Without a console, or without their
// cells, Backspace, space and Backspace are written for each column.
void take_back_echoed(void*, size_t characters, size_t columns) {
  int64_t width = 0;
  const int64_t now = echo_cell(width);
  if (now < 0 || console.echoed_cells.size() < characters) {
    const Text back(columns, '\b');
    write_text(console.console_output, console.echo_is_console, back + Text(columns, ' ') + back);
    return;
  }
  int64_t cells = 0;
  for (size_t i = 0; i < characters; ++i) {
    cells += console.echoed_cells.back();
    console.echoed_cells.pop_back();
  }
  const int64_t start = std::max<int64_t>(now - cells, 0);
  const COORD place{static_cast<SHORT>(start % width), static_cast<SHORT>(start / width)};
  DWORD blanked = 0;
  FillConsoleOutputCharacterW(console.console_output, L' ',
                              static_cast<DWORD>(std::max<int64_t>(cells, columns)), place,
                              &blanked);
  if (cells < static_cast<int64_t>(columns) && place.X > 0) {
    write_up_to(place);
  } else {
    SetConsoleCursorPosition(console.console_output, place);
  }
}

size_t read_redirected(void*, unsigned char* buffer, size_t max) {
  DWORD peeked = 0;
  DWORD available = 0;
  DWORD wanted = static_cast<DWORD>(max);
  if (PeekNamedPipe(console.standard_input, buffer, wanted, &peeked, &available, nullptr)) {
    // A pipe with nothing in it at this moment counts as the end of input.
    if (peeked == 0) return 0;
    wanted = peeked;
  }
  DWORD count = 0;
  if (!ReadFile(console.standard_input, buffer, wanted, &count, nullptr)) return 0;
  return count;
}

}  // namespace

void console_start() {
  if (console.started) return;
  console.started = true;
  console.standard_error = GetStdHandle(STD_ERROR_HANDLE);
  console.standard_input = GetStdHandle(STD_INPUT_HANDLE);
  console.standard_output = GetStdHandle(STD_OUTPUT_HANDLE);
  console.keyboard =
      CreateFileA("CONIN$", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);

  DWORD mode = 0;
  console.console_output = GetConsoleMode(console.standard_output, &mode) ? console.standard_output
                                                                          : console.standard_error;
  SetConsoleMode(console.console_output, kOutputMode);
  console.input_is_console = GetConsoleMode(console.standard_input, &mode) != FALSE;
  SetConsoleMode(console.standard_input, kRawInputMode);

  CONSOLE_CURSOR_INFO cursor{};
  if (!GetConsoleCursorInfo(console.console_output, &cursor) || cursor.dwSize == 0) {
    if (!GetConsoleCursorInfo(console.standard_output, &cursor) || cursor.dwSize == 0) {
      cursor.dwSize = kCursorSize;
      cursor.bVisible = TRUE;
      SetConsoleCursorInfo(console.console_output, &cursor);
    }
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  if (startup.dwFlags & STARTF_USESTDHANDLES) {
    console.standard_input = startup.hStdInput;
    console.standard_output = startup.hStdOutput;
    console.standard_error = startup.hStdError;
  }
  console.output_is_console = is_console(console.standard_output);
  console.echo_is_console = is_console(console.console_output);
}

void console_stop() {
  if (!console.started) return;
  if (has_keyboard()) CloseHandle(console.keyboard);
  console.keyboard = INVALID_HANDLE_VALUE;
  console.keyboard_failures = 0;
  console.started = false;
}

void print_text(const Text& text) {
  if (!text.empty()) write_lines(text);
}

void print_line_end() {
  write_lines("\r\n");
}

bool lines_lost() {
  return console.lines_lost;
}

void print_error_line(const Text& text) {
  write_text(console.standard_error, is_console(console.standard_error), text + "\r\n");
}

Text read_line(bool& stopped) {
  stopped = false;
  if (console.input_is_console) {
    console.echoed_cells.clear();
    LineKeyboard keyboard{next_console_char, echo_byte, nullptr, true, take_back_echoed};
    return edit_console_line(console.end_of_input, keyboard, stopped);
  }
  return take_redirected_line(console.pending, console.end_of_input,
                              InputSource{read_redirected, nullptr});
}

int32_t key_waiting() {
  return first_waiting_key().empty() ? 0 : -1;
}

Text read_key() {
  if (!console.kept_keys.empty()) {
    Text key = console.kept_keys.front();
    console.kept_keys.pop_front();
    return key;
  }
  Text key = first_waiting_key();
  if (key.empty()) return key;
  INPUT_RECORD record;
  DWORD count = 0;
  ReadConsoleInputA(console.keyboard, &record, 1, &count);
  return key;
}

Text wait_key() {
  // Without a console keyboard (or once it is gone) no key can ever come.
  while (has_keyboard()) {
    Sleep(1);
    Text key = read_key();
    if (!key.empty()) return key;
  }
  return "";
}

void flush_keys() {
  console.kept_keys.clear();
  if (!console.input_is_console) return;
  FlushConsoleInputBuffer(console.standard_input);
  // Bytes of a character already read are pending input too.
  console.typed.clear();
  console.typed_next = 0;
}

Text take_waiting_keys(const Text& wanted) {
  Text taken;
  if (!has_keyboard()) return taken;
  // The events at the head of the queue now (a peek, which also has the
  // console take in what was typed), read out: what is not wanted is kept as
  // key values, in order, for the later reads (the events that are no key
  // press would be passed over by them anyway). More events than these wait
  // for the next call.
  std::vector<INPUT_RECORD> records(kEventsTaken);
  DWORD count = 0;
  if (!keyboard_call(PeekConsoleInputA(console.keyboard, records.data(), kEventsTaken, &count)) ||
      count == 0 ||
      !keyboard_call(ReadConsoleInputA(console.keyboard, records.data(), count, &count))) {
    return taken;
  }
  for (DWORD i = 0; i < count; ++i) {
    Text key = console_event_key(event_of(records[i]));
    if (key.size() == 1 && wanted.find(key[0]) != Text::npos) {
      taken += key;
    } else if (!key.empty()) {
      console.kept_keys.push_back(key);
    }
  }
  return taken;
}

int32_t cursor_row() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console.console_output, &info)) return 0;
  return info.dwCursorPosition.Y + 1;
}

void move_cursor(int32_t column, int32_t row) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console.console_output, &info)) return;
  if (column < 1 || column > info.dwSize.X) column = info.dwCursorPosition.X + 1;
  if (row < 1 || row > info.dwSize.Y) row = info.dwCursorPosition.Y + 1;
  const COORD place{static_cast<SHORT>(column - 1), static_cast<SHORT>(row - 1)};
  SetConsoleCursorPosition(console.console_output, place);
}
