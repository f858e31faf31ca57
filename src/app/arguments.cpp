#include "app/arguments.h"

#include "app/failure_exit.h"
#include "console/console.h"
#include "console/print_line.h"
#include "fileio/path_style.h"

namespace {

// An answer wrapped in double quotes, as Explorer's "Copy as path" and a
// file dropped into the console give a path, is the path inside them where
// no name can hold a quote.
Text unquoted(const Text& answer) {
  const bool wrapped = answer.size() >= 2 && answer.front() == '"' && answer.back() == '"';
  return kQuotesWrapPaths && wrapped ? answer.substr(1, answer.size() - 2) : answer;
}

Text prompt(const Text& question, const Text& example, bool& stopped) {
  print_line(question);
  print_line("           example: " + example);
  print_text(" -->");
  return unquoted(read_line(stopped));
}

// Ctrl+C at a prompt stops the run as it stops the walk.
MissingArguments stop_at_prompt() {
  print_line("Aborted");
  return MissingArguments::stopped;
}

}  // namespace

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

bool read_command_fields(const std::vector<Text>& fields, RunSettings& settings) {
  settings.infile = fields.size() > 0 ? fields[0] : Text();
  settings.outdir = fields.size() > 1 ? fields[1] : Text();
  if (fields.size() > 3) return false;
  // An empty third field is no option, as an empty prefix is none.
  const Text option = fields.size() > 2 ? fields[2] : Text();
  if (option.empty()) return true;
  // The prefix is everything after the first "=": a prefix may hold "="
  // itself, as names do.
  const size_t equals = option.find('=');
  if (equals == Text::npos) return false;
  const Text key = option.substr(0, equals);
  const Text value = option.substr(equals + 1);
  if (key == "startat") {
    settings.start_at = value;
  } else if (key == "only") {
    settings.only = value;
  } else {
    return false;
  }
  return true;
}

MissingArguments settle_missing_arguments(RunSettings& settings) {
  if (!settings.fresh_console) {
    print_usage();
    return MissingArguments::usage_shown;
  }
  bool stopped = false;
  const Text infile =
      prompt("please enter the complete filename of the input .tar file", kExampleArchive, stopped);
  if (stopped) return stop_at_prompt();
  if (infile.empty()) {
    print_line("Ok, aborting. This program also works from the commandline.");
    failure_exit(true);
    return MissingArguments::abandoned;
  }
  settings.infile = infile;
  settings.outdir =
      prompt("now please enter the complete name of the output directory", kExampleOutdir, stopped);
  if (stopped) return stop_at_prompt();
  print_line("");
  return MissingArguments::answered;
}
