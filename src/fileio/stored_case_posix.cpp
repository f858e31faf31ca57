#include "fileio/stored_case.h"

// Names of POSIX file systems differ by their bytes: "a" and "A" are two
// files, and no member can be written over another's file this way.
Text made_in_other_case(int32_t, const Text&) {
  return "";
}
