// What a member's header says of the file beyond its bytes: its
// modification time and its permission bits.
#pragma once

#include <cstdint>

// A modification time: seconds since 1970-01-01 00:00 UTC (negative before
// it) and the nanoseconds within that second (0 to 999,999,999).
struct FileTime {
  bool known = false;
  int64_t seconds = 0;
  int32_t nanoseconds = 0;
};

// What is set on a file or directory once it is written: the time, and the
// permission bits as stored (POSIX; -1 when none are to be set).
struct FileSettings {
  FileTime time;
  int32_t mode = -1;
};
