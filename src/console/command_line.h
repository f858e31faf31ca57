// The command fields: the arguments the process was given after its own
// name. On POSIX they are the arguments as the shell gave them (a quoted
// path with a space is one field); on Windows the command line the system
// hands the process, in UTF-8, split as every Windows program's runtime
// splits it (text/command_line_split.h).
#pragma once

#include <vector>

#include "text/text.h"

std::vector<Text> command_fields(int argc, char** argv);
