// The console on a POSIX terminal. The keyboard is the controlling terminal
// (/dev/tty), in raw input while the program runs (terminal_mode_posix.cpp
// switches it and restores it on every way out); keys are decoded from the bytes the terminal
// sends; the cursor row is asked of the terminal with a position query; output goes straight to the
// file descriptors with no buffering. The terminal signals the arrival of bytes (SIGURG,
// asynchronous I/O), so that asking whether a key waits costs no system call while nothing has been
// typed.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/line_input.h"
#include "console/terminal_keys.h"
#include "console/terminal_mode_posix.h"

namespace {

// An Esc with no further byte within this time is the Esc key on its own.
constexpr int kEscapeWaitMs = 30;
// How long the terminal has to answer a cursor position query.
constexpr int kCursorAnswerMs = 200;
// Keyboard bytes read but not yet taken as keys.
constexpr size_t kTypedSize = 8192;

enum class ReadResult { got_bytes, nothing_yet, keyboard_gone };

struct ConsoleState {
  bool started = false;
  int keyboard = -1;           // /dev/tty, or -1 when there is none
  bool keyboard_gone = false;  // the terminal hung up
  int output = -1;             // the terminal the cursor is driven on: 1, 2 or -1
  bool input_is_console = false;
  bool lines_lost = false;  // a write to standard output failed

  // Arrival notices: while they are on, keyboard bytes can be waiting only
  // once a notice has come since the last look (or a look left bytes).
  bool notices_on = false;
  volatile sig_atomic_t bytes_may_wait = 1;
  struct sigaction previous_notice {};

  // Redirected input and the end-of-input flag shared with the console editor.
  PendingInput pending;
  bool end_of_input = false;

  // Keyboard bytes read ahead, a key found by key_waiting and not yet taken,
  // and whether the terminal's answer to a query is still to come.
  unsigned char typed[kTypedSize]{};
  size_t typed_count = 0;
  bool typed_settled = false;  // no byte came during the last wait for more
  Text waiting_key;
  bool answer_overdue = false;
};

ConsoleState console;

bool has_keyboard() {
  return console.keyboard >= 0 && !console.keyboard_gone;
}

void on_arrival_notice(int) {
  console.bytes_may_wait = 1;
}

// Has the terminal send SIGURG to this process alone when bytes arrive.
// SIGURG's default action is to ignore it: in the instant before the owner
// is set, the terminal addresses its whole foreground group, and the other
// programs there (a pipeline's) take no harm from it. Without notices every
// look at the keyboard asks the system.
void start_arrival_notices() {
  if (sigaction(SIGURG, nullptr, &console.previous_notice) != 0) return;
  if (console.previous_notice.sa_handler != SIG_DFL &&
      console.previous_notice.sa_handler != SIG_IGN) {
    return;
  }
  struct sigaction notice {};
  sigemptyset(&notice.sa_mask);
  notice.sa_flags = SA_RESTART;
  notice.sa_handler = on_arrival_notice;
  sigaction(SIGURG, &notice, nullptr);
  const int fd = console.keyboard;
  const int flags = fcntl(fd, F_GETFL);
  // Switching O_ASYNC on makes the terminal's foreground group the owner, so
  // the owner is set again afterwards.
  console.notices_on = flags >= 0 && fcntl(fd, F_SETSIG, SIGURG) == 0 &&
                       fcntl(fd, F_SETFL, flags | O_ASYNC) == 0 &&
                       fcntl(fd, F_SETOWN, getpid()) == 0;
  console.bytes_may_wait = 1;
  if (!console.notices_on) {
    if (flags >= 0) fcntl(fd, F_SETFL, flags);
    sigaction(SIGURG, &console.previous_notice, nullptr);
  }
}

void stop_arrival_notices() {
  if (!console.notices_on) return;
  const int flags = fcntl(console.keyboard, F_GETFL);
  if (flags >= 0) fcntl(console.keyboard, F_SETFL, flags & ~O_ASYNC);
  sigaction(SIGURG, &console.previous_notice, nullptr);
  console.notices_on = false;
  console.bytes_may_wait = 1;
}

// --- output -------------------------------------------------------------------

// Writes all the bytes unless the descriptor fails; false when it did.
bool write_all(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    const ssize_t written = write(fd, bytes, count);
    if (written > 0) {
      bytes += written;
      count -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      if (poll(&ready, 1, -1) < 0 && errno != EINTR) return false;
      continue;
    }
    return false;
  }
  return true;
}

void write_bytes(int fd, const Text& text) {
  write_all(fd, text.data(), text.size());
}

// The lines go to standard output; one that fails there is lost.
void write_lines(const char* bytes, size_t count) {
  if (!write_all(STDOUT_FILENO, bytes, count)) console.lines_lost = true;
}

// --- keyboard -----------------------------------------------------------------

int64_t now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads what the terminal has sent, waiting up to `timeout_ms` (-1: without
// limit) for the first byte.
ReadResult read_more(int timeout_ms) {
  if (!has_keyboard()) return ReadResult::keyboard_gone;
  if (console.typed_count == kTypedSize) return ReadResult::nothing_yet;
  // Cleared before looking: a byte arriving from now on brings a new notice.
  console.bytes_may_wait = 0;
  pollfd ready{console.keyboard, POLLIN, 0};
  const int64_t deadline = timeout_ms > 0 ? now_ms() + timeout_ms : 0;
  int polled;
  // A signal (an arrival notice among them) cuts a wait short: the rest of
  // the time is waited.
  while ((polled = poll(&ready, 1, timeout_ms)) < 0 && errno == EINTR) {
    if (timeout_ms > 0) timeout_ms = static_cast<int>(std::max<int64_t>(deadline - now_ms(), 0));
  }
  if (polled <= 0) return ReadResult::nothing_yet;
  if (ready.revents & POLLNVAL) {
    console.keyboard_gone = true;
    return ReadResult::keyboard_gone;
  }
  const size_t room = kTypedSize - console.typed_count;
  const ssize_t count = read(console.keyboard, console.typed + console.typed_count, room);
  if (count > 0) {
    // A full read may have left bytes behind, which no notice announces.
    if (static_cast<size_t>(count) == room) console.bytes_may_wait = 1;
    console.typed_count += static_cast<size_t>(count);
    console.typed_settled = false;
    return ReadResult::got_bytes;
  }
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
    return ReadResult::nothing_yet;
  }
  // End of file or an error on a terminal: it has hung up.
  console.keyboard_gone = true;
  return ReadResult::keyboard_gone;
}

void drop_typed(size_t at, size_t count) {
  memmove(console.typed + at, console.typed + at + count, console.typed_count - at - count);
  console.typed_count -= count;
}

// The next key from the keyboard: "" when none is there (without waiting) or
// when the keyboard is gone (waiting).
Text take_key(bool wait) {
  if (!console.waiting_key.empty()) {
    Text key;
    key.swap(console.waiting_key);
    return key;
  }
  for (;;) {
    if (console.typed_count > 0) {
      TerminalUnit unit =
          decode_terminal_unit(console.typed, console.typed_count, !console.typed_settled);
      if (unit.kind == TerminalUnitKind::incomplete) {
        if (read_more(kEscapeWaitMs) != ReadResult::got_bytes) console.typed_settled = true;
        continue;
      }
      drop_typed(0, unit.length);
      if (unit.kind == TerminalUnitKind::cursor_report && console.answer_overdue) {
        // The late answer to a query that was given up on.
        console.answer_overdue = false;
        continue;
      }
      if (unit.key.empty()) continue;
      return unit.key;
    }
    // Without a notice since the last look, no byte has come.
    if (!wait && console.notices_on && !console.bytes_may_wait) return "";
    const ReadResult result = read_more(wait ? -1 : 0);
    if (result == ReadResult::keyboard_gone) return "";
    if (result == ReadResult::nothing_yet && !wait) return "";
  }
}

// --- line input ---------------------------------------------------------------

int next_typed_char(void*) {
  for (;;) {
    const Text key = take_key(true);
    if (key.empty()) return -1;
    // Keys that give no character are passed over, as in a raw console.
    if (key.size() == 1) return static_cast<unsigned char>(key[0]);
  }
}

void echo_byte(void*, unsigned char byte) {
  const int fd = console.output >= 0 ? console.output : console.keyboard;
  if (fd >= 0) write_all(fd, reinterpret_cast<const char*>(&byte), 1);
}

size_t read_redirected(void*, unsigned char* buffer, size_t max) {
  struct stat info {};
  if (fstat(STDIN_FILENO, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))) {
    // A pipe with nothing in it at this moment counts as the end of input.
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    int polled;
    do {
      polled = poll(&ready, 1, 0);
    } while (polled < 0 && errno == EINTR);
    if (polled <= 0) return 0;
  }
  for (;;) {
    const ssize_t count = read(STDIN_FILENO, buffer, max);
    if (count > 0) return static_cast<size_t>(count);
    if (count < 0 && errno == EINTR) continue;
    return 0;
  }
}

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later (the archive, an output file) takes its number and
// receives the lines meant for standard output, or is read as input. It is
// opened for reading only: a write to it still fails, as to the closed
// descriptor, so lines that go nowhere are known to be lost.
void fill_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    // The lowest free number is this one: those below it are open.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

}  // namespace

void console_start() {
  if (console.started) return;
  console.started = true;
  fill_standard_descriptors();
  if (isatty(STDOUT_FILENO) == 1) {
    console.output = STDOUT_FILENO;
  } else if (isatty(STDERR_FILENO) == 1) {
    console.output = STDERR_FILENO;
  }

  // The keyboard is the controlling terminal, when the program runs in its
  // foreground; a background job has none.
  console.keyboard = open("/dev/tty", O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (console.keyboard >= 0 && !take_terminal(console.keyboard)) {
    close(console.keyboard);
    console.keyboard = -1;
  }
  console.input_is_console = isatty(STDIN_FILENO) == 1 && console.keyboard >= 0;

  // Writing to a closed pipe fails like any other write instead of ending the run.
  struct sigaction pipe_action {};
  if (sigaction(SIGPIPE, nullptr, &pipe_action) == 0 && pipe_action.sa_handler == SIG_DFL &&
      !(pipe_action.sa_flags & SA_SIGINFO)) {
    signal(SIGPIPE, SIG_IGN);
  }

  if (console.keyboard < 0) return;
  start_raw_input(&console.bytes_may_wait);
  start_arrival_notices();
}

void console_stop() {
  if (!console.started) return;
  stop_raw_input();
  stop_arrival_notices();
  if (console.keyboard >= 0) close(console.keyboard);
  console.keyboard = -1;
  console.keyboard_gone = false;
  console.output = -1;
  console.input_is_console = false;
  console.typed_count = 0;
  console.waiting_key.clear();
  console.started = false;
}

void print_text(const Text& text) {
  write_lines(text.data(), text.size());
}

void print_line_end() {
  write_lines("\r\n", 2);
}

bool lines_lost() {
  return console.lines_lost;
}

void print_error_line(const Text& text) {
  write_bytes(STDERR_FILENO, text + "\r\n");
}

Text read_line(bool& stopped) {
  stopped = false;
  if (console.input_is_console) {
    LineKeyboard keyboard{next_typed_char, echo_byte, nullptr, true};
    return edit_console_line(console.end_of_input, keyboard, stopped);
  }
  return take_redirected_line(console.pending, console.end_of_input,
                              InputSource{read_redirected, nullptr});
}

int32_t key_waiting() {
  if (console.waiting_key.empty()) console.waiting_key = take_key(false);
  return console.waiting_key.empty() ? 0 : -1;
}

Text read_key() {
  return take_key(false);
}

Text wait_key() {
  return take_key(true);
}

Text take_waiting_keys(const Text& wanted) {
  Text taken;
  const auto is_wanted = [&](const Text& key) {
    return key.size() == 1 && wanted.find(key[0]) != Text::npos;
  };
  if (is_wanted(console.waiting_key)) taken.swap(console.waiting_key);
  // Without a notice since the last look, no byte has come.
  if (!console.notices_on || console.bytes_may_wait) read_more(0);
  size_t at = 0;
  while (at < console.typed_count) {
    const TerminalUnit unit =
        decode_terminal_unit(console.typed + at, console.typed_count - at, !console.typed_settled);
    if (unit.kind == TerminalUnitKind::incomplete) {
      // An Esc at the end may begin a key's sequence: its rest comes within
      // a few milliseconds, or it is the Esc key.
      if (read_more(kEscapeWaitMs) != ReadResult::got_bytes) console.typed_settled = true;
      continue;
    }
    if (is_wanted(unit.key)) {
      taken += unit.key;
      drop_typed(at, unit.length);
    } else {
      at += unit.length;
    }
  }
  return taken;
}

void flush_keys() {
  console.waiting_key.clear();
  console.typed_count = 0;
  console.typed_settled = false;
  if (has_keyboard()) tcflush(console.keyboard, TCIFLUSH);
}

int32_t cursor_row() {
  if (console.output < 0 || !has_keyboard()) return 0;
  // Bytes already read are keys typed before the query; the answer follows them.
  const size_t answer_from = console.typed_count;
  write_all(console.output, "\x1b[6n", 4);
  const int64_t deadline = now_ms() + kCursorAnswerMs;
  for (;;) {
    const CursorReport report = find_cursor_report(console.typed, console.typed_count, answer_from);
    if (report.found) {
      drop_typed(report.at, report.length);
      console.answer_overdue = false;
      return report.row;
    }
    const int64_t left = deadline - now_ms();
    if (left <= 0) break;
    const ReadResult result = read_more(static_cast<int>(left));
    if (result == ReadResult::keyboard_gone) break;
    if (result == ReadResult::nothing_yet && console.typed_count == kTypedSize) break;
  }
  console.answer_overdue = true;
  return 0;
}

void move_cursor(int32_t column, int32_t row) {
  if (console.output < 0) return;
  winsize size{};
  const bool known =
      ioctl(console.output, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
  const bool column_ok = column >= 1 && (!known || column <= size.ws_col);
  const bool row_ok = row >= 1 && (!known || row <= size.ws_row);
  if (column_ok && row_ok) {
    write_bytes(console.output, "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H");
  } else if (column_ok) {
    write_bytes(console.output, column == 1 ? Text("\r") : "\x1b[" + std::to_string(column) + "G");
  } else if (row_ok) {
    write_bytes(console.output, "\x1b[" + std::to_string(row) + "d");
  }
}
