// The command line as the system holds it (wide text), in UTF-8: a path or
// an option typed with any character reaches the program whole.
#include <windows.h>

#include <cwchar>

#include "console/command_line.h"
#include "text/wide_text_win32.h"

Text process_command_line(int, char**) {
  const wchar_t* line = GetCommandLineW();
  return line != nullptr ? utf8_of(line, std::wcslen(line)) : Text();
}
