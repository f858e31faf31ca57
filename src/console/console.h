// What the program writes to and reads from the person at the console:
// lines out, lines and keys in, the cursor. Without a console every call
// still returns at once, having read nothing.
#pragma once

#include <cstdint>

#include "text/text.h"

// console_start puts the keyboard in raw mode and finds the screen (where the
// cursor is asked for and moved); console_stop gives a terminal back its
// settings.
void console_start();
void console_stop();

// Writes the text's bytes to standard output, no line end.
void print_text(const Text& text);
// Writes CR LF to standard output.
void print_line_end();
// True once a write to standard output failed (closed, a full disk, a pipe
// whose reader is gone): some of the lines are lost.
bool lines_lost();
// Writes the text and CR LF to standard error.
void print_error_line(const Text& text);

// The next line of input without its line end: edited with echo at a
// console, taken from the pending bytes when input is redirected. Ctrl+C or
// Ctrl+\ typed at the console stops the typing: "" with `stopped` set.
Text read_line(bool& stopped);

// -1 if a key press is waiting on the console keyboard (it stays waiting), else 0.
int32_t key_waiting();
// The next key value, or "" at once when none is waiting. A key value is one
// byte for a character key (Esc is 27) or two bytes, 0 and the scan code.
Text read_key();
// The next key value, waiting for one ("" at once if there is no keyboard).
Text wait_key();
// Discards every pending key press.
void flush_keys();
// Takes, without waiting, the key presses waiting now whose values are among
// the one-byte keys of `wanted`, and returns them in their order; every other
// key press stays waiting, in its order, for the later reads and waits.
Text take_waiting_keys(const Text& wanted);

// The cursor's row in the console, counted from 1 (0 when there is none).
int32_t cursor_row();
// Moves the cursor; a value out of range keeps the current column or row.
void move_cursor(int32_t column, int32_t row);
