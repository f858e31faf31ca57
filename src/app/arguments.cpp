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
    const Text value = field_of(option, "=", 2);
    if (key == "startat") {
      settings.start_at = value;
    } else if (key == "only") {
      settings.only = value;
    }
  }
  return settings;
}

bool settle_missing_arguments(RunSettings& settings) {
  if (!settings.fresh_console) {
    print_usage();
    return false;
  }
  const Text infile =
      prompt("please enter the complete filename of the input .tar file", kExampleArchive);
  if (infile.empty()) {
    print_line("Ok, aborting. This program also works from the commandline.");
    failure_exit(true);
    return false;
  }
  settings.infile = infile;
  settings.outdir =
      prompt("now please enter the complete name of the output directory", kExampleOutdir);
  print_line("");
  return true;
}
