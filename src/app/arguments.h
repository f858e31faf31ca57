// The command fields, the usage text and the two prompts.
#pragma once

#include <vector>

#include "app/run_settings.h"
#include "text/text.h"

// Fills infile, outdir and at most one prefix from the command fields. False
// when they are not a command line the program takes: a third field that is
// neither startat=prefix nor only=prefix, or a fourth field. Prints nothing.
bool read_command_fields(const std::vector<Text>& fields, RunSettings& settings);

// The usage text.
void print_usage();

enum class MissingArguments { answered, usage_shown, abandoned, stopped };

// Called when outdir is missing. Outside a fresh console: the usage text
// (usage_shown: the run ends). In a fresh console: the two prompts, with
// infile and outdir replaced by the answers (answered), or, when the first
// answer was empty, its abort message and one key (abandoned), or, when
// Ctrl+C was typed at a prompt, "Aborted" (stopped).
MissingArguments settle_missing_arguments(RunSettings& settings);
