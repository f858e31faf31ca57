// The size of an open file on POSIX, from fstat of its descriptor.
#include <sys/stat.h>

#include "fileio/file_access.h"
#include "fileio/file_table.h"

int64_t file_size(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !record->disk_file) return 0;
  struct stat status;
  if (::fstat(static_cast<int>(record->handle), &status) != 0) return 0;
  return static_cast<int64_t>(status.st_size);
}
