// The POSIX terminal's mode while the program runs: raw input (every key as
// its byte, no echo, no signals from keys), and the user's settings restored
// on every way out: normal end, exit, a stop (and raw again on continuing),
// and every signal whose default action ends the process, whoever sent it.
// Both are done only while the program is in the terminal's foreground: a
// program continued in the background leaves the settings of the one that
// has the terminal now.
#pragma once

#include <signal.h>

// Reads the settings of `keyboard` (the controlling terminal) to restore
// later. False when the program is not in the terminal's foreground or the
// settings cannot be read; the terminal is then left alone.
bool take_terminal(int keyboard);

// Switches the taken terminal to raw input and installs the restoring
// handlers. `resumed` is set to 1 each time raw input is taken up again (on
// start and after the program was stopped and continued): bytes typed in
// between came while the program was not looking.
void start_raw_input(volatile sig_atomic_t* resumed);

// Restores the user's settings (in the foreground) and removes the handlers.
void stop_raw_input();
