#include "console/command_line.h"

std::vector<Text> command_fields(int argc, char** argv) {
  std::vector<Text> fields;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) fields.emplace_back(argv[i]);
  return fields;
}
