// A Windows command line split into its arguments, as the runtime of every
// Windows program splits the line the system hands it.
#pragma once

#include <vector>

#include "text/text.h"

// The arguments of `line`, the program's own name first. Spaces and tabs
// separate them. The name ends at the first of them outside double quotes;
// its quotes are dropped and its backslashes are its own. In every later
// argument double quotes group (a quoted part may sit inside an argument,
// and one left open runs to the end of the line), `""` inside a quoted part
// is a literal quote that ends the part, and backslashes are literal except
// right before a quote: each pair of them gives one backslash, and an odd
// one left over makes the quote a literal one.
std::vector<Text> split_command_line(const Text& line);
