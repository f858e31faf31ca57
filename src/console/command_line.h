// The process's whole command line as one text: on Windows the text the
// system hands the process; on POSIX the arguments joined by single spaces,
// the program's name first (quoted when it holds a space).
#pragma once

#include "text/text.h"

Text process_command_line(int argc, char** argv);
