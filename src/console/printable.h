// Names and paths as the lines show them: control characters in a visible
// escaped form, so that no name can move the cursor, clear the screen, start
// a new line or hide itself, whatever the output is (a terminal, a console,
// a log file or a pipe). Only the line changes; the file gets the exact name.
#pragma once

#include "text/text.h"

// The text as the lines show it: its bytes as the output carries them
// (shown_text), then each control byte (0x00 to 0x1F and 0x7F) written as
// "\x" and two lowercase hex digits ("\x0a" for LF, "\x1b" for Esc), and each
// control character of the range U+0080 to U+009F in its UTF-8 form (the
// bytes C2 80 to C2 9F, which some terminals obey as controls) written as its
// two bytes so escaped ("\xc2\x9b"). Every other byte stays as it is, a
// backslash included.
Text printable(const Text& text);

// The escapes of printable alone, on the bytes as they are.
Text escaped_controls(const Text& text);

// A name or path as the output carries it. On POSIX its own bytes. On
// Windows UTF-8, each piece between separators read as the system reads the
// name (UTF-8 where its bytes are valid UTF-8, else the ANSI code page), so
// that the escapes are made on the characters shown (a code-page byte that
// is the control U+0081 is escaped; an escape's backslash never splits a
// piece), and the line names the file that was made
// (printable_posix.cpp, printable_win32.cpp).
Text shown_text(const Text& text);
