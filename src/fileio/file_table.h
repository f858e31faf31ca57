// The table of open files, keyed by file number. The record is the same on
// both platforms; only the handle's meaning differs (a descriptor on POSIX, a
// HANDLE on Windows).
#pragma once

#include <cstdint>

enum class FileKind { binary, output };

struct FileRecord {
  intptr_t handle = -1;
  bool disk_file = false;  // positions are meaningful only for disk files
  FileKind kind = FileKind::binary;
  int64_t position = 0;   // offset of the next byte, counted from 0
  bool end_flag = false;  // set by a read that came back short
};

// Highest file number a caller may choose (numbers are 16-bit, from 0).
inline constexpr int32_t kLastFileNumber = 32767;

// The record of an open file, or nullptr when the number is not open.
FileRecord* find_file(int32_t number);
// Enters a record under a number that is not open yet.
void add_file(int32_t number, const FileRecord& record);
// Frees the number.
void remove_file(int32_t number);
