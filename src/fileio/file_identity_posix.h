// A file's identity on POSIX: its device and inode.
#pragma once

#include <sys/stat.h>

#include "fileio/file_record.h"

inline FileIdentity identity_of(const struct stat& status) {
  FileIdentity identity;
  identity.known = true;
  identity.volume = static_cast<uint64_t>(status.st_dev);
  identity.file_id = static_cast<uint64_t>(status.st_ino);
  return identity;
}
