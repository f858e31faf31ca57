// Holvex: extracts the members of very large tar archives.
#include "app/run_sequence.h"
#include "console/command_line.h"

int main(int argc, char** argv) {
  return run_holvex(command_fields(argc, argv));
}
