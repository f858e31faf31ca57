// The command fields, the usage text and the two prompts.
#pragma once

#include "app/run_settings.h"
#include "text/text.h"

// Fills infile, outdir and at most one prefix from the command tail. Prints
// nothing.
RunSettings read_command_fields(const Text& command_tail);

// Called when outdir is missing. Outside a fresh console: the usage text, and
// false (the run ends). In a fresh console: the two prompts, with infile and
// outdir replaced by the answers; false when the first answer was empty (after
// its abort message and one key).
bool settle_missing_arguments(RunSettings& settings);
