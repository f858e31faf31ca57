// The size of an open file on POSIX, from fstat of its descriptor.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "fileio/file_access.h"
#include "fileio/file_table.h"

int64_t file_size(int32_t number) {
  const FileRecord* record = find_file(number);
  if (record == nullptr || !record->disk_file) return 0;
  struct stat status;
  const int fd = static_cast<int>(record->handle);
  if (::fstat(fd, &status) != 0) return 0;
  // A block device's status holds no size: its end is its size.
  if (S_ISBLK(status.st_mode)) return std::max<int64_t>(::lseek(fd, 0, SEEK_END), 0);
  return static_cast<int64_t>(status.st_size);
}
