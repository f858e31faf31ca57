#include "app/arguments.h"

#include "app/failure_exit.h"
#include "console/console.h"
#include "console/print_line.h"
#include "fileio/path_style.h"
#include "text/string_ops.h"

namespace {

void print_usage() {
  print_line("usage: holvex infile outdir [option]");
  print_line("  both are required and must be full references");
  print_line("");
  print_line("options:");
  print_line("  startat=prefix (begin process at file matching \"prefix\")");
  print_line("  only=prefix (only decode files matching \"prefix\")");
  print_line("");
  print_line("example: holvex " + kExampleArchive + " " + kExampleOutdir);
  print_line("");
}

Text prompt(const Text& question, const Text& example) {
  print_line(question);
  print_line("           example: " + example);
  print_text(" -->");
  return read_line();
}

}  // namespace

RunSettings read_command_fields(const Text& command_tail) {
  RunSettings settings;
  settings.infile = field_of(command_tail, " ", 1);
  settings.outdir = field_of(command_tail, " ", 2);
  const Text option = field_of(command_tail, " ", 3);
  if (!option.empty()) {
    const Text key = field_of(option, "=", 1);
    // The prefix is everything after the first "=": a prefix may hold "="
    // itself, as names do.
    const int32_t equals = find_text(1, option, "=");
    const Text value =
        equals == 0 ? Text() : substring(option, equals + 1, static_cast<int32_t>(option.size()));
    if (key == "startat") {
      settings.start_at = value;
    } else if (key == "only") {
      settings.only = value;
    }
  }
  return settings;
}

MissingArguments settle_missing_arguments(RunSettings& settings) {
  if (!settings.fresh_console) {
    print_usage();
    return MissingArguments::usage_shown;
  }
  const Text infile =
      prompt("please enter the complete filename of the input .tar file", kExampleArchive);
  if (infile.empty()) {
    print_line("Ok, aborting. This program also works from the commandline.");
    failure_exit(true);
    return MissingArguments::abandoned;
  }
  settings.infile = infile;
  settings.outdir =
      prompt("now please enter the complete name of the output directory", kExampleOutdir);
  print_line("");
  return MissingArguments::answered;
}
