// One run of the program from start to exit.
#pragma once

#include <vector>

#include "text/text.h"

// The exit codes: a run that completed without an ERROR line; one that wrote
// an ERROR line, passed over a member as unsafe, was aborted, could not
// write its lines, or ended on a failed path check or the empty first
// answer; one that showed the usage text.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs Holvex with the process's command fields; returns the exit code.
int run_holvex(const std::vector<Text>& fields);
