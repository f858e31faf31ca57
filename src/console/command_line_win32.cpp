// The command line as the system holds it (wide text), in UTF-8: a path or
// an option typed with any character reaches the program whole.
#include <windows.h>

#include <cwchar>

#include "console/command_line.h"
#include "text/command_line_split.h"
#include "text/wide_text_win32.h"

std::vector<Text> command_fields(int, char**) {
  const wchar_t* line = GetCommandLineW();
  std::vector<Text> fields =
      split_command_line(line != nullptr ? utf8_of(line, std::wcslen(line)) : Text());
  fields.erase(fields.begin());
  return fields;
}
