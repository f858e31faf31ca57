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
int run(const std::vector<Text>& fields) {
  RunSettings settings;
  const bool fields_taken = read_command_fields(fields, settings);
  // A fresh console is a window of the program's own whose screen shows its
  // output: the prompts and the waits for a key are for someone who reads
  // them. With the output going to a file or a pipe nobody does.
  settings.fresh_console = output_is_screen() && cursor_row() == 1;
  print_banner();
  // A misspelt option or a field too many would otherwise extract what was
  // not asked for: nothing is done. In a window of its own (files dropped on
  // the program) the text stays until a key is pressed.
  if (!fields_taken) {
    print_usage();
    failure_exit(settings.fresh_console);
    return kExitUsage;
  }
  if (settings.outdir.empty()) {
    const MissingArguments settled = settle_missing_arguments(settings);
    if (settled == MissingArguments::usage_shown) return kExitUsage;
    if (settled != MissingArguments::answered) return kExitFailure;
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

int run_holvex(const std::vector<Text>& fields) {
  console_start();
  int exit_code = run(fields);
  // Lines that could not be written (standard output closed, a full disk, a
  // reader gone) leave the run unreported: it did not go as it should.
  if (lines_lost()) {
    print_error_line("ERROR: Cannot write the lines to standard output");
    if (exit_code == kExitSuccess) exit_code = kExitFailure;
  }
  console_stop();
  return exit_code;
}
