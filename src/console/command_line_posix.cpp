#include "console/command_line.h"

Text process_command_line(int argc, char** argv) {
  Text line;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    const Text argument = argv[i];
    if (i > 0) line += ' ';
    if (i == 0 && argument.find(' ') != Text::npos) {
      line += '"' + argument + '"';
    } else {
      line += argument;
    }
  }
  return line;
}
