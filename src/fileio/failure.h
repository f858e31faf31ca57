// Why a file or directory call failed, in words a user can act on. Each
// platform tells its own error codes apart (system_failure_posix.cpp,
// system_failure_win32.cpp); the words are the same on both.
#pragma once

#include <cstdint>

#include "text/text.h"

enum class Failure {
  none,
  no_space,         // the disk is full
  quota,            // the user's disk quota is used up
  permission,       // the system refuses this user
  read_only,        // the file system takes no writes
  name_too_long,    // a name longer than the file system takes
  invalid_name,     // a name the file system cannot hold
  file_in_the_way,  // a file (or a device, FIFO, socket) where a directory must be
  link_in_the_way,  // a link where a directory must be: never followed
  directory_there,  // a directory where the file must be
  not_a_file,       // a device, FIFO or socket where the file must be
  link_there,       // a link where the file must be: never written through
  directory_name,   // a file's name that ends in a separator, as a directory's does
  in_use,           // another program holds the file
  the_archive,      // the file is the archive being read
  kernel_files,     // the directory lies on one of the kernel's interface file systems
  too_deep,         // more levels than any real path has
  vanished,         // a level on the way was removed meanwhile
  links_refused,    // the system or the file system makes no such link here
  io_error,         // the device reported an input/output error
  damaged_data,     // compressed data that cannot be decoded
  failed_check,     // compressed data that fails its format's check
  cut_data,         // compressed data that ends inside a stream
  stopped,          // the keys stopped a wait for data
  unknown,          // an error the program has no words for
};

// The failure in plain words, without a capital or a full stop, for the end
// of an ERROR line ("ERROR: Cannot create this file: permission denied").
Text failure_reason(Failure failure);

// The failure a system error code stands for (errno on POSIX, GetLastError
// on Windows); `fallback` for a code that names nothing more precise.
Failure failure_of_system_error(uint32_t code, Failure fallback = Failure::unknown);
