#include "app/run_sequence.h"

#include "app/arguments.h"
#include "app/failure_exit.h"
#include "app/path_checks.h"
#include "app/run_settings.h"
#include "console/console.h"
#include "console/print_line.h"
#include "extract/extraction_loop.h"
#include "extract/support_address.h"
#include "fileio/output_root.h"
#include "text/number_text.h"
#include "text/string_ops.h"

namespace {

constexpr double kVersion = 101.0 / 100.0;

void print_banner() {
  print_line("Holvex");
  print_line("Version " + format_number(kVersion, "0.00"));
  print_line("");
  print_line("A utility for extracting very large tar files, by the Holvex project (" +
             kProjectAddress + ")");
  print_line("");
}

// Everything between reading the settings and the process exit; the console
// is set up around it.
void run(const Text& command_line) {
  RunSettings settings = read_command_fields(command_tail(command_line));
  settings.fresh_console = cursor_row() == 1;
  print_banner();
  if (settings.outdir.empty() && !settle_missing_arguments(settings)) return;
  if (!check_paths(settings)) {
    failure_exit(settings.fresh_console);
    return;
  }
  set_output_root(settings.outdir);
  const ExtractionOutcome outcome =
      run_extraction(settings.outdir, settings.start_at, settings.only);
  if (outcome == ExtractionOutcome::completed && settings.fresh_console) {
    flush_keys();
    print_line("We're all done!");
    print_line("Press a key to exit");
    wait_key();
  }
}

}  // namespace

int run_holvex(const Text& command_line) {
  console_start();
  run(command_line);
  console_stop();
  return 0;
}
