// The command fields, the usage text and the two prompts.
#pragma once

#include "app/run_settings.h"
#include "text/text.h"

// Fills infile, outdir and at most one prefix from the command tail. Prints
// nothing.
RunSettings read_command_fields(const Text& command_tail);

enum class MissingArguments { answered, usage_shown, abandoned };

// Called when outdir is missing. Outside a fresh console: the usage text
// (usage_shown: the run ends). In a fresh console: the two prompts, with
// infile and outdir replaced by the answers (answered), or, when the first
// answer was empty, its abort message and one key (abandoned).
MissingArguments settle_missing_arguments(RunSettings& settings);
