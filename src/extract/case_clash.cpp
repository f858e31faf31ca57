#include "extract/case_clash.h"

#include "console/print_line.h"
#include "console/printable.h"
#include "fileio/stored_case.h"

bool said_case_clash(int32_t number, const Text& path) {
  const Text earlier = made_in_other_case(number, path);
  if (earlier.empty()) return false;
  print_line("ERROR: Written over " + printable(earlier) +
             ", made for an earlier member (the names differ only in case)");
  return true;
}
