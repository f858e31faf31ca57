#include "app/run_sequence.h"

#include <utility>

#include "app/arguments.h"
#include "app/failure_exit.h"
#include "app/path_checks.h"
#include "app/run_settings.h"
#include "console/console.h"
#include "console/print_line.h"
#include "console/progress_row.h"
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

// Everything between reading the settings and the process exit, the console
// set up around it; returns the exit code.
int run(const Text& command_line) {
  RunSettings settings = read_command_fields(command_tail(command_line));
  // A fresh console is a window of the program's own whose screen shows its
  // output: the prompts and the waits for a key are for someone who reads
  // them. With the output going to a file or a pipe nobody does.
  settings.fresh_console = output_is_screen() && cursor_row() == 1;
  print_banner();
  if (settings.outdir.empty()) {
    const MissingArguments settled = settle_missing_arguments(settings);
    if (settled == MissingArguments::usage_shown) return kExitUsage;
    if (settled == MissingArguments::abandoned) return kExitFailure;
  }
  FileRecord archive;
  if (!check_paths(settings, archive)) {
    failure_exit(settings.fresh_console);
    return kExitFailure;
  }
  // Nothing below the output directory is made but through its root.
  OutputRoot root;
  open_output_root(settings.outdir, archive.identity, root);
  ArchiveReader reader;
  start_reader(reader, std::move(archive));
  const ExtractionOutcome outcome = run_extraction(reader, root, settings.start_at, settings.only);
  if (outcome != ExtractionOutcome::aborted && settings.fresh_console) {
    flush_keys();
    print_line("We're all done!");
    print_line("Press a key to exit");
    wait_key();
  }
  return outcome == ExtractionOutcome::completed ? kExitSuccess : kExitFailure;
}

}  // namespace

int run_holvex(const Text& command_line) {
  console_start();
  const int exit_code = run(command_line);
  console_stop();
  return exit_code;
}
