#include "app/failure_exit.h"

#include "console/console.h"
#include "console/print_line.h"

void failure_exit(bool fresh_console) {
  if (!fresh_console) return;
  print_line("Press a key to exit.");
  wait_key();
}
