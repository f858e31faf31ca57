#include "extract/directory_path.h"

#include "console/print_line.h"
#include "console/printable.h"

bool say_directory(const Text& path, const Reached& reached) {
  print_line("Create directory: " + printable(path));
  if (reached.failure == Failure::none) return true;
  print_line("ERROR: Cannot create this directory: " + failure_reason(reached.failure));
  return false;
}
