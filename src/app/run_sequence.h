// One run of the program from start to exit.
#pragma once

#include "text/text.h"

// Runs Holvex with the process's whole command line; returns the exit code,
// which is 0 on every path.
int run_holvex(const Text& command_line);
