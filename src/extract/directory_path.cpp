#include "extract/directory_path.h"

#include "console/printable.h"

bool say_directory(OrderedLines& lines, const Text& path, const Reached& reached) {
  say(lines, "Create directory: " + printable(path));
  if (reached.failure == Failure::none) return true;
  say(lines, "ERROR: Cannot create this directory: " + failure_reason(reached.failure));
  return false;
}
