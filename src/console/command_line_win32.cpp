#include <windows.h>

#include "console/command_line.h"

Text process_command_line(int, char**) {
  const char* line = GetCommandLineA();
  return line != nullptr ? Text(line) : Text();
}
